"""validate_json.py FOLDER: checks the --json documents that run_tool.py kept in FOLDER (one file
each) against their schemas, then removes them: one start of the validator for the whole suite."""
import json, os, sys

sys.path.append('/usr/lib/python3/dist-packages')  # also when run without the site module
import jsonschema

folder, found, validators = sys.argv[1], 0, {}
names = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
for name in names:
    with open(os.path.join(folder, name), encoding='utf-8') as f:
        r = json.load(f)
    if r['schema'] not in validators:
        with open(r['schema'], encoding='utf-8') as f:
            validators[r['schema']] = jsonschema.Draft202012Validator(json.load(f))
    for e in validators[r['schema']].iter_errors(r['document']):
        found += 1
        print(f"{r['case']}: {' '.join(r['args'])}: the --json document does not follow "
              f"{os.path.basename(r['schema'])}: {e.message} (at {'/'.join(map(str, e.absolute_path))})")
    os.remove(os.path.join(folder, name))
print(f'{len(names)} --json documents checked, {found} not following their schema')
sys.exit(1 if found else 0)
