"""Runs every mode over the damaged inputs that `make_input corpus DIR` wrote, each in the place of
the mode's input next to good other inputs (DIR/good/), and checks: no signal, no hang, no sanitizer
report, the input unchanged and nothing written beside it; a mode takes an input exactly when the
table below says so; a refusal names the file and leaves the output folder empty; every container
written verifies. The setup parser meets every input too, and the modes a file of more than 2 GiB.

  hostile.py BIN PARSER DIR PART   PART 0 or 1: every other input (0 also runs the 2 GiB file)"""
import os, shutil, stat, subprocess, sys

# {} is the damaged input.
MODES = {
    'I': '-I {}', 'I-s': '-I {} -s', 'R': '-R {} -k target', 'M': '-M {} -N 0', 'C': '-C {}', 'A': '-A {}',
    'X': '-X {}', 'X-s': '-X {} -s', 'U': '-U {} --model_info_version 9.9',
    'U-replace': '-U {} --model_info_version 9.9 --replace_original', 'sol': '--update_solution_info {} -a 77 -b aa',
    'j': '-j {}', 'S': '-S {} -d 0 -p good/addr.json', 'S-p': '-S good/good.txm -d 0 -p {}',
    'G-e': '-G -t 400 -e {}', 'G-h': '-G -t 300 -h {} -m good/good_all_models.bin',
    'G-m': '-G -t 300 -h good/good_fw_info.bin -m {}', 'E': '-E {} -n 1',
    'E-cust': '-E {} -f 0x1234 -F good/good.key', 'E-key': '-E good/good.bnx -f 0x1234 -F {}', 'c': '-c {}',
}
# -X -s and -I -s extract first and report a failed setup view afterwards, naming the extracted
# setup and keeping what it extracted.
KEEPS_EXTRACTED = {'I-s', 'X-s'}

# The modes that take each input; every other mode must refuse it. Inputs not listed are taken by
# -C (the CRC of any bytes) and by -E as a key file (neither empty nor all zero, and deriving a key
# other than 0). A container whose structure holds: -I, -R and -M show its header without reading
# the payload, so they take it whatever the payload holds; every command that uses the payload
# refuses it.
HEADER_VIEWS = 'I R M C E-key'
ACCEPTED = {
    # The CRC of no bytes is 0; nothing else takes an empty file, not even as a key. A few bytes of
    # key table derive the key 0, which would scramble nothing.
    **{f'{f}_cut{n}': 'C' for f in ('bnx_txm', 'bnx300', 'bnx100', 'txm') for n in (0, 3, 4, 8, 16)},
    'fw_info_junk_section': 'C',
    # Cut into the padding before the trailer, or through the trailer: the structure holds.
    **dict.fromkeys(['bnx_txm_cut15776', 'bnx_txm_cut15779', 'bnx300_cut735', 'bnx300_cut736', 'bnx300_cut739',
                     'bnx100_cut992', 'bnx100_cut995', 'bnx_txm_len0'], HEADER_VIEWS),
    **{f'bnx300_{f}{v}': HEADER_VIEWS for f in ('count', 'size_cmd', 'size_wt', 'size_fw')
       for v in (0, 2147483647, 4294967295)},
    **dict.fromkeys(['bnx100_setup_magic', 'bnx100_fb_setup', 'bnx300_raw_setup', 'bnx300_stale_section'], HEADER_VIEWS),
    **{f'{f}_bitflip{s}': HEADER_VIEWS for f in ('bnx_txm', 'bnx300', 'bnx100') for s in ('', '_resealed')},
    # A union tag without its value is still a flatbuffer setup: the container is sound.
    'bnx300_bare_tag': 'I I-s R M C X X-s U U-replace sol E E-cust E-key c',
    # The setup's buffer happens to verify as a container too: its tables read as a header.
    'setup_bare_tag': HEADER_VIEWS,
    # fw_info.bin with its CRC section, of exactly the good all_models.bin: a sound pair.
    'fw_info_only': 'C G-h',
    'key_zero': 'C',  # a key of zero words is no key
    'key_fifo': '',   # not a regular file: refused, never waited on
}

faults = []


def run(argv, what):
    try:
        r = subprocess.run(argv, cwd=DIR, stdin=subprocess.DEVNULL, capture_output=True, timeout=20)
    except subprocess.TimeoutExpired:
        faults.append(f'hangs: {what}')
        return None
    err = r.stderr.decode(errors='replace')
    if r.returncode < 0:
        faults.append(f'signal {-r.returncode}: {what}\n{err}')
    if 'Sanitizer' in err or 'runtime error:' in err:
        faults.append(f'{what}\n{err}')
    return r.returncode, r.stdout.decode(errors='replace') + err


def clear(out):
    for e in os.listdir(out):
        p = os.path.join(out, e)
        shutil.rmtree(p) if os.path.isdir(p) and not os.path.islink(p) else os.remove(p)


def read(name):
    path = os.path.join(DIR, name)
    return 'fifo' if stat.S_ISFIFO(os.lstat(path).st_mode) else open(path, 'rb').read()


BIN, PARSER, DIR, PART = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
out = os.path.join(DIR, 'out')
os.mkdir(out)
corpus = sorted(e for e in os.listdir(DIR) if e not in ('good', 'out'))
if len(corpus) < 50 or not set(ACCEPTED) <= set(corpus):
    sys.exit(f'corpus of {len(corpus)} inputs, missing {sorted(set(ACCEPTED) - set(corpus))}')
listing = sorted(os.listdir(DIR))
wrong, runs = [], 0
for name in corpus[PART::2]:
    data = read(name)
    taken = []
    for mode, words in MODES.items():
        args = [name if w == '{}' else w for w in words.split()]
        what = f'{name}: {" ".join(args)}'
        result = run([BIN] + args + ['-O', 'out'], what)
        runs += 1
        if read(name) != data:
            faults.append(f'input changed: {what}')
            os.remove(os.path.join(DIR, name))
            open(os.path.join(DIR, name), 'wb').write(data)
        status, text = result or (None, '')
        # --replace_original writes beside its input (a name without .bnx gets the default name).
        beside = sorted(set(os.listdir(DIR)) - set(listing))
        if beside and (status != 0 or '--replace_original' not in args) or set(listing) - set(os.listdir(DIR)):
            faults.append(f'written beside the inputs: {what}: {sorted(set(os.listdir(DIR)) ^ set(listing))}')
        written = sorted(os.listdir(out))
        if status == 0:
            taken.append(mode)
            for e in [os.path.join('out', e) for e in written] + beside:
                if e.endswith('.bnx'):
                    v = subprocess.run([BIN, '--verify', e], cwd=DIR, capture_output=True, text=True)
                    if v.returncode != 0:
                        faults.append(f'{what} wrote a container that does not verify\n{v.stdout}')
        elif status is not None and (mode not in KEEPS_EXTRACTED or not written):
            if written:
                faults.append(f'{what}: refused but wrote {written}')
            if name not in text:
                faults.append(f'{what}: refusal does not name the file\n{text}')
        clear(out)
        for e in beside:
            os.remove(os.path.join(DIR, e))
    if ' '.join(taken) != ACCEPTED.get(name, 'C E-key'):
        wrong.append(f"    '{name}': '{' '.join(taken)}',  # was '{ACCEPTED.get(name, 'C E-key')}'")
    if data != 'fifo':  # the setup parser program, for the setup-shaped inputs and everything else alike
        run([PARSER, name, '-p300'], f'setup parser: {name}')
        if os.path.exists(os.path.join(DIR, name + '.json')):
            os.remove(os.path.join(DIR, name + '.json'))
if wrong:
    faults.append('modes that took each input, against the table:\n' + '\n'.join(wrong))
if PART == 0:
    # A file of more than 2 GiB (sparse): refused by its size before anything reads it.
    with open(os.path.join(DIR, 'huge.bnx'), 'wb') as f:
        f.truncate((2 << 30) + 64)
    for args in ('-I huge.bnx', '-R huge.bnx -k target', '-X huge.bnx', '-j huge.bnx', '-A huge.bnx',
                 '-G -t 400 -e huge.bnx'):
        result = run([BIN] + args.split() + ['-O', 'out'], args)
        runs += 1
        if result is not None and result[0] == 0:
            faults.append(f'takes a file of more than 2 GiB: {args}')
        if os.listdir(out):
            faults.append(f'{args}: refused but wrote {os.listdir(out)}')
            clear(out)
    os.remove(os.path.join(DIR, 'huge.bnx'))
for fault in faults:
    print(f'hostile: {fault}', file=sys.stderr)
print(f'hostile corpus: {len(corpus[PART::2])} of {len(corpus)} inputs x {len(MODES)} modes, {runs} runs')
sys.exit(1 if faults else 0)
