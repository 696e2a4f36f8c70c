#!/usr/bin/env python3
"""Runs the tool for an end-to-end case and checks what every case must hold, unasked:
inputs keep their bytes, nothing is written outside the output folder, and every container a
successful run wrote or rewrote passes --verify.

  run_tool.py BIN [--status N] ARGS...

With --status the run must end with status N (and this script then exits 0); without it, this
script ends with the tool's own status. The case's folder is the working folder."""
import os, stat, subprocess, sys, time


def snapshot(root):
    # The case's own redirections (> out 2> err) are not the tool's doing.
    streams = set()
    for fd in (1, 2):
        try:
            st = os.fstat(fd)
            streams.add((st.st_dev, st.st_ino))
        except OSError:
            pass
    files = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            try:
                st = os.stat(path)
                # A pipe would block the read; the case's redirections are not the tool's doing.
                if not stat.S_ISREG(st.st_mode) or (st.st_dev, st.st_ino) in streams:
                    continue
                # Any write, replacement or change of mode shows in these, without reading the bytes.
                files[os.path.relpath(path, root)] = (st.st_ino, st.st_size, st.st_mtime_ns, st.st_ctime_ns)
            except OSError:
                pass  # gone meanwhile
    return files


def option_value(args, short, long):
    value = None
    for i, a in enumerate(args):
        if a in (short, long) and i + 1 < len(args):
            value = args[i + 1]
        elif a.startswith(long + '='):
            value = a[len(long) + 1:]
    return value


# The schema of the document a --json run prints, by its mode; None when it prints none.
SCHEMAS = {o: s for s, opts in (
    ('info', '-I --info'), ('read', '-R --read'), ('model_info', '-M --model_info'), ('verify', '--verify'),
    ('crc', '-C --crc'), ('alignment', '-A --alignment'), ('diff', '--diff'),
    ('written', '-G --gen -X --extract -c --combine_bnx -E --enc -U --update_model_info --update_solution_info '
                '-j --txm_to_json -S --split_core')) for o in opts.split()}


def json_schema(args):
    modes = [SCHEMAS[a] for a in args if a in SCHEMAS] if '--json' in args else []
    return os.path.join(os.path.dirname(__file__), '..', '..', 'schemas', 'json', modes[0] + '.schema.json') if modes else None


def document_faults(schema, out, status):
    # Anything printed must be one JSON document, kept (under ctest) for validate_json.py: loading
    # the schema validator once for the suite costs less than once a run.
    if status not in (0, 1, 3) and not out:
        return []
    import json
    try:
        doc = json.loads(out.decode('utf-8'))
    except ValueError as e:
        return [f'the --json output is not one JSON document: {e}']
    folder = os.environ.get('TALVEX_JSON_DOCS')
    if folder:
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, f'{os.getpid()}-{time.time_ns()}.json'), 'w', encoding='utf-8') as f:
            json.dump({'case': os.getcwd(), 'args': sys.argv[2:], 'schema': schema, 'document': doc}, f)
    return []


def main():
    tool, args = sys.argv[1], sys.argv[2:]
    want = None
    if args[:1] == ['--status']:
        want, args = int(args[1]), args[2:]
    root = os.getcwd()
    folder = option_value(args, '-O', '--folder')
    folder = os.path.normpath(os.path.join(root, 'output' if folder is None else folder))
    # --replace_original may rewrite the files the mode names; everything else is an input.
    replaced = set()
    if '--replace_original' in args:
        replaced = {os.path.realpath(a) for a in args if os.path.isfile(a)}
    before = snapshot(root)
    schema = json_schema(args)
    run = subprocess.run([tool] + args, stdout=subprocess.PIPE if schema else None)
    status = run.returncode
    if schema:
        sys.stdout.buffer.write(run.stdout)
    after = snapshot(root)
    faults = document_faults(schema, run.stdout, status) if schema else []

    def inside(rel):
        path = os.path.join(root, rel)
        return os.path.commonpath([folder, path]) == folder or os.path.realpath(path) in replaced

    for rel, data in before.items():
        if not inside(rel) and after.get(rel) != data:
            faults.append(f'input changed or removed: {rel}')
    for rel in after:
        if rel not in before and not inside(rel):
            faults.append(f'written outside the output folder: {rel}')
    if status == 0:
        for rel, data in after.items():
            if rel.endswith('.bnx') and before.get(rel) != data:
                check = subprocess.run([tool, '--verify', rel], capture_output=True, text=True)
                if check.returncode != 0:
                    faults.append(f'{rel} fails --verify:\n{check.stdout}{check.stderr}')
    if want is not None and status != want:
        faults.append(f'status {status}, expected {want}')
    for fault in faults:
        print(f'run_tool: {fault}', file=sys.stderr)
    if faults:
        sys.exit(1 if status == 0 or want is not None else status)
    sys.exit(0 if want is not None else status)


if __name__ == '__main__':
    main()
