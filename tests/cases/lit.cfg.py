# End-to-end cases: each .test file holds its command lines (RUN:), their expected output
# (FileCheck patterns or golden files in Inputs/) and statuses. %tool runs the program through
# run_tool.py, which also checks inputs, the output folder and every written container.
import os
import sys

import lit.formats

config.name = 'talvex'
config.test_format = lit.formats.ShTest(execute_external=True)
config.suffixes = ['.test']
config.excludes = ['Inputs']
config.test_source_root = os.path.dirname(__file__)
config.test_exec_root = lit_config.params.get('exec_root', os.path.join(config.test_source_root, 'out'))

here = config.test_source_root
params = lit_config.params
# The interpreter that runs lit, by its own path (a "python3" found on PATH may be a slow shim),
# without the site module: the helpers need only the standard library, and site's start-up
# costs more than the tool's own run.
python = f"{sys.executable} -S"
config.substitutions.append(('%tool', f"{python} {here}/run_tool.py {params['tool']}"))
config.substitutions.append(('%python', python))
config.substitutions.append(('%parser', params['parser']))
config.substitutions.append(('%make', params['make_input']))
config.substitutions.append(('%inputs', os.path.join(here, 'Inputs')))
config.substitutions.append(('%flatc', params['flatc']))
config.substitutions.append(('%schemas', params['schemas']))
config.substitutions.append(('%bin', params['tool']))
for name in ('build', 'srcroot', 'cmake'):  # the install case's
    config.substitutions.append(('%' + name, params.get(name, '')))
llvm_bin = params.get('llvm_bin', '/usr/lib/llvm-14/bin')
for name in ('FileCheck', 'split-file'):
    if os.path.exists(os.path.join(llvm_bin, name)):
        config.substitutions.append((rf'\b{name}\b', os.path.join(llvm_bin, name)))
# The same plain output in every case: no colour, the default log levels.
config.environment['NO_COLOR'] = '1'
config.environment.pop('SPDLOG_LEVEL', None)
# The --json documents, kept for one check against their schemas after the last case.
if 'json_docs' in params:
    config.environment['TALVEX_JSON_DOCS'] = params['json_docs']
