"""The Python module against the built program, on inputs made by the builders."""
import os, subprocess, tempfile, unittest, zlib

import talvex_bnx as tb


class ModuleTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        os.chdir(self.dir.name)
        for args in (['txm', 'a.txm', 'ids=1,2'], ['bnx', 'b.bnx', 'ids=5']):
            subprocess.run([os.environ['TALVEX_MAKE_INPUT'], *args], check=True, stdout=subprocess.DEVNULL)

    def test_each_command_returns_its_results(self):
        (made,) = tb.generate(400, txm='a.txm', folder='g')
        data = open(made.path, 'rb').read()
        self.assertEqual((os.path.basename(made.path), made.size, made.crc32), ('models_400.bnx', len(data), zlib.crc32(data)))
        self.assertEqual([(m.position, m.id) for m in tb.info(made.path).models], [(0, 1), (1, 2)])
        (merged,) = tb.combine([made.path, 'b.bnx'], folder='c')
        changes = [(d.path, d.change) for d in tb.diff(made.path, merged.path)]
        self.assertEqual((tb.diff('b.bnx', 'b.bnx'), changes[-3:]),
                         ([], [('models[5]', 'added'), ('payload.crc32', 'changed'), ('payload.size', 'changed')]))
        self.assertEqual([r.name for r in tb.info(merged.path).models[2].regions], ['input', 'output', 'working_buffer', 'weight'])
        (enc,) = tb.encrypt(merged.path, tv_number=5, folder='e')
        (upd,) = tb.update(enc.path, solution_tag='t', folder='u')
        info = tb.info(upd.path)
        self.assertEqual([[m.id for m in info.models], info.header['tv_number'], info.header['solution_tag']], [[1, 2, 5], 5, 't'])
        self.assertEqual([v.ok for v in tb.verify(upd.path, 'b.bnx')], [True, True])
        self.assertTrue(any(f.path.endswith('_models_400.txm') for f in tb.extract('b.bnx', folder='x')))
        self.assertEqual(tb.crc('b.bnx'), 0x2144DF1C)  # the residue of data followed by its own CRC

    def test_failures(self):
        with self.assertRaises(tb.TalvexError) as caught:
            tb.info('missing.bnx')
        self.assertEqual((caught.exception.status, 'missing.bnx' in caught.exception.message), (255, True))
        with self.assertRaises(tb.TalvexError) as caught:
            tb.diff('b.bnx', 'missing.bnx')
        self.assertEqual(caught.exception.status, 2)
        data = open('b.bnx', 'rb').read()
        open('d.bnx', 'wb').write(data[:-1] + bytes([data[-1] ^ 1]))
        self.assertEqual([v.ok for v in tb.verify('d.bnx')], [False])
        self.assertRaises(ValueError, tb.update, 'b.bnx')
