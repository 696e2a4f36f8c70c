"""talvex_bnx_utils from Python.

Each function runs the program with --json and returns its document as typed results; a command
that fails raises TalvexError with the program's message and exit status. Only the standard
library is needed. The program is found on PATH, or where TALVEX_BNX_UTILS names it.
"""
import json
import os
import subprocess
from dataclasses import dataclass, field
from typing import Any, Dict, List, Optional, Sequence, Union

__all__ = ['TalvexError', 'WrittenFile', 'Region', 'Model', 'Info', 'Check', 'Verified', 'Difference', 'info',
           'verify', 'crc', 'diff', 'generate', 'extract', 'combine', 'encrypt', 'update']


class TalvexError(Exception):
    """The program refused or failed: message is what it said on standard error."""

    def __init__(self, message: str, status: int):
        super().__init__(f'{message} (exit status {status})')
        self.message = message
        self.status = status


@dataclass(frozen=True)
class WrittenFile:
    path: str
    size: int
    crc32: int


@dataclass(frozen=True)
class Region:
    name: str
    start: int
    size: int


@dataclass(frozen=True)
class Model:
    """A model description; with its device-memory regions, tensors and cores when the payload
    could be read (memory_map, inputs, outputs and cores are the document's own objects)."""
    position: int
    id: int
    version: str
    name: str
    regions: List[Region] = field(default_factory=list)
    memory_map: List[Dict[str, Any]] = field(default_factory=list)
    inputs: List[Dict[str, Any]] = field(default_factory=list)
    outputs: List[Dict[str, Any]] = field(default_factory=list)
    cores: List[Dict[str, Any]] = field(default_factory=list)
    setup_crc32: Optional[int] = None

    @staticmethod
    def of(d: dict) -> 'Model':
        return Model(**{**d, 'regions': [Region(**r) for r in d.get('regions', [])]})


@dataclass(frozen=True)
class Info:
    file: str
    header: Dict[str, Union[str, int, None]]
    models: List[Model]
    payload_kind: str
    payload_size: int
    fw_info_size: int


@dataclass(frozen=True)
class Check:
    name: str
    ok: bool
    expected: str
    found: str


@dataclass(frozen=True)
class Difference:
    """One difference: path as in "models[2].regions.weight.size"; a is None when added, b when removed."""
    path: str
    change: str
    a: Any
    b: Any


@dataclass(frozen=True)
class Verified:
    file: str
    ok: bool
    checks: List[Check]


def _run(args: Sequence[str], statuses=(0,)) -> dict:
    program = os.environ.get('TALVEX_BNX_UTILS', 'talvex_bnx_utils')
    proc = subprocess.run([program, *args, '--json'], stdin=subprocess.DEVNULL, capture_output=True)
    err = proc.stderr.decode('utf-8', 'replace').strip()
    if proc.returncode not in statuses or not proc.stdout:
        raise TalvexError(err or f'{program} failed', proc.returncode)
    return json.loads(proc.stdout.decode('utf-8'))


def _written(args: List[str], folder: str, name: Optional[str]) -> List[WrittenFile]:
    args += ['-O', folder] + (['-o', name] if name else [])
    return [WrittenFile(**f) for f in _run(args)['files']]


def info(path: str) -> Info:
    d = _run(['-I', path])
    return Info(d['file'], d['header'], [Model.of(m) for m in d['models']], d['payload']['kind'],
                d['payload']['size'], d['payload']['fw_info_size'])


def verify(*paths: str) -> List[Verified]:
    """Every integrity check of each container; a damaged one is a result, not an error."""
    d = _run(['--verify', *paths], statuses=(0, 3))
    return [Verified(f['file'], f['ok'], [Check(**c) for c in f['checks']]) for f in d['files']]


def diff(a: str, b: str) -> List[Difference]:
    """What differs between two containers (or TXM files); an empty list when nothing does."""
    return [Difference(**d) for d in _run(['--diff', a, b], statuses=(0, 1))['differences']]


def crc(path: str) -> int:
    return _run(['-C', path])['crc32']


def generate(target: Union[int, str], txm: Optional[str] = None, fw_info: Optional[str] = None,
             all_models: Optional[str] = None, folder: str = 'output', name: Optional[str] = None) -> List[WrittenFile]:
    """A container from a TXM file (targets 400, 600) or a fw_info.bin / all_models.bin pair."""
    args = ['-G', '-t', str(target)]
    args += ['-e', txm] if txm else ['-h', fw_info or '', '-m', all_models or '']
    return _written(args, folder, name)


def extract(path: str, folder: str = 'output', keep: bool = False, setups: bool = False,
            name: Optional[str] = None) -> List[WrittenFile]:
    return _written(['-X', path] + (['-l'] if keep else []) + (['-s'] if setups else []), folder, name)


def combine(paths: Sequence[str], folder: str = 'output', name: Optional[str] = None,
            keep: bool = False) -> List[WrittenFile]:
    return _written(['-c', *paths] + (['-l'] if keep else []), folder, name)


def encrypt(path: str, tv_number: Optional[int] = None, customer_key: Optional[int] = None,
            efuse_key: Optional[int] = None, key_file: Optional[str] = None, folder: str = 'output',
            name: Optional[str] = None) -> List[WrittenFile]:
    """Post-encryption for a device key number (tv_number) or a customer key."""
    if tv_number is not None:
        args = ['-E', path, '--TV', f'{tv_number:x}']
    else:
        args = ['-E', path, '-f', f'0x{customer_key or 0:x}']
        args += ['-g', f'0x{efuse_key:x}'] if efuse_key is not None else []
        args += ['-F', key_file] if key_file else []
    return _written(args, folder, name)


def update(path: str, model_versions: Optional[Sequence[str]] = None, model_names: Optional[Sequence[str]] = None,
           solution_id: Optional[str] = None, solution_tag: Optional[str] = None, folder: str = 'output',
           name: Optional[str] = None, replace_original: bool = False) -> List[WrittenFile]:
    """New model descriptions (-U) or new solution texts (--update_solution_info), not both."""
    models = model_versions is not None or model_names is not None
    if models == (solution_id is not None or solution_tag is not None):
        raise ValueError('give model versions or names, or a solution id or tag')
    if models:
        args = ['-U', path] + (['--model_info_version', ','.join(model_versions)] if model_versions is not None else [])
        args += ['--model_info_name', ','.join(model_names)] if model_names is not None else []
    else:
        args = ['--update_solution_info', path] + (['--solution_id', solution_id] if solution_id is not None else [])
        args += ['--solution_tag', solution_tag] if solution_tag is not None else []
    return _written(args + (['--replace_original'] if replace_original else []), folder, name)
