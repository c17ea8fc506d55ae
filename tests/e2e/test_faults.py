"""Faults and bad input from the platform's side under Wine: relay peers
that hang up, reset or never read; "ServerPort" values of the wrong type or
size; odd registered engine paths; a command line of the platform's maximum
length; an engine that ends the process itself; oversized configurations
and cut splash bitmaps. None may crash the launcher or lose what the user
passed on its way to the engine."""
import os
import socket
import threading
import time
import unittest

import kelwine
from kelwine import Listener, Record, place, winpath, work_dir

wine = None
plain = None

# The exit code the sample engine is asked for: a run that shows it entered the engine.
ENGINE_EXIT = 6


def setUpModule():
    global wine, plain
    wine = kelwine.Wine()
    folder = work_dir("faults", "launchers")
    place(kelwine.KEL_DLL, folder)
    plain = place(kelwine.KEL_EXE, folder)


def fresh_record(name):
    path = os.path.join(os.path.dirname(plain), name + ".txt")
    if os.path.exists(path):
        os.remove(path)
    return path


class Peer:
    """A loopback relay peer that misbehaves after accepting one connection:
    "close" hangs up at once, "reset" aborts the connection, "silent" keeps it
    open and reads nothing until drain() is called."""

    def __init__(self, mode):
        self.mode = mode
        self.server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.server.bind(("127.0.0.1", 0))
        self.server.listen(4)
        self.server.settimeout(30)
        self.port = self.server.getsockname()[1]
        self.accepted = []
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        try:
            client, _ = self.server.accept()
        except OSError:
            return
        self.accepted.append(client)
        if self.mode == "close":
            client.close()
        elif self.mode == "reset":
            client.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            client.close()

    def drain(self):
        """What the silent peer's connection holds, read only now."""
        self.thread.join(5)
        if not self.accepted:
            return None
        client = self.accepted[0]
        return kelwine.read_until_closed(client, 5, b"<still open>")

    def close(self):
        self.server.close()
        for client in self.accepted:
            client.close()
        self.thread.join(5)


class RelayPeers(unittest.TestCase):
    LINE = '-acommand "go home" tail'

    def setUp(self):
        kelwine.forget_engine_key(wine)

    def tearDown(self):
        kelwine.forget_engine_key(wine)

    def relay_to(self, peer):
        kelwine.set_server_port(wine, peer.port)
        path = fresh_record("peer_" + peer.mode)
        started = time.time()
        result = wine.launch(plain, self.LINE, env=kelwine.engine_env(path, exit_code=ENGINE_EXIT),
                             timeout_ms=20000)
        took = time.time() - started
        self.assertLess(took, 20, f"the launcher did not end in bounded time: {result}")
        self.assertIn(result.exit, (0, ENGINE_EXIT), f"neither delivered nor handed to the engine: {result}")
        record = Record(path)
        if result.exit == 0:
            self.assertFalse(record.exists, f"exit 0 but an engine ran: {record.lines}")
            outcome = "delivered (exit 0)"
        else:
            self.assertEqual(record.command_line, self.LINE)
            outcome = "engine started with the whole line"
        print(f"peer {peer.mode}: {outcome} in {took:.2f} s", flush=True)
        return result, record

    def test_a_peer_that_closes_at_once(self):
        peer = Peer("close")
        try:
            self.relay_to(peer)
            self.assertTrue(kelwine.wait_for(lambda: peer.accepted, timeout=5), "the launcher never connected")
        finally:
            peer.close()

    def test_a_peer_that_resets(self):
        peer = Peer("reset")
        try:
            self.relay_to(peer)
            self.assertTrue(kelwine.wait_for(lambda: peer.accepted, timeout=5), "the launcher never connected")
        finally:
            peer.close()

    def test_a_peer_that_never_reads(self):
        peer = Peer("silent")
        try:
            result, _ = self.relay_to(peer)
            # The command sits unread in the peer's buffer, whole, and the
            # launcher's close has ended the connection.
            self.assertEqual(result.exit, 0, result)
            self.assertEqual(peer.drain(), b"go home\n")
        finally:
            peer.close()


def free_low_port():
    """A loopback port below 256 that nothing listens on, bound for the caller."""
    for port in range(250, 100, -1):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        try:
            s.bind(("127.0.0.1", port))
        except OSError:
            s.close()
            continue
        s.close()
        return port
    raise unittest.SkipTest("no free port below 256")


class LowPortListener(Listener):
    """A Listener on a port chosen by the caller rather than by the system."""

    def __init__(self, port):
        self.server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.server.bind(("127.0.0.1", port))
        self.server.listen(8)
        self.server.settimeout(0.2)
        self.port = port
        self.connections = []
        self._stop = False
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()


class ServerPortForms(unittest.TestCase):
    def setUp(self):
        kelwine.forget_engine_key(wine)

    def tearDown(self):
        kelwine.forget_engine_key(wine)

    def write_value(self, kind_and_bytes):
        kind, data = kind_and_bytes
        text = f"{kind}:" + ",".join(f"{b:02x}" for b in data)
        wine.regedit_import(f"[{kelwine.ENGINE_KEY}]\n\"ServerPort\"={text}\n")

    def run_with(self, value, listener):
        self.write_value(value)
        path = fresh_record("port_form")
        try:
            result = wine.launch(plain, "-acommand form", env=kelwine.engine_env(path, exit_code=ENGINE_EXIT))
        finally:
            connections = listener.close()
        return result, connections, Record(path)

    def expect_relayed(self, value, listener):
        result, connections, record = self.run_with(value, listener)
        self.assertEqual(connections, [b"form\n"], result)
        self.assertEqual(result.exit, 0, result)
        self.assertFalse(record.exists, "the engine started after a delivered relay")

    def expect_engine(self, value, listener):
        result, connections, record = self.run_with(value, listener)
        self.assertEqual(connections, [])
        self.assertEqual(result.exit, ENGINE_EXIT, result)
        self.assertEqual(record.command_line, "-acommand form")

    def test_the_low_bytes_of_a_value_up_to_four_bytes_are_the_port(self):
        for extra in ((), (0x01,), (0x02, 0x80)):
            with self.subTest(high_bytes=extra):
                listener = Listener()
                port = listener.port
                self.expect_relayed(("hex", bytes((port & 0xFF, port >> 8)) + bytes(extra)), listener)

    def test_a_one_byte_value(self):
        port = free_low_port()
        listener = LowPortListener(port)
        self.expect_relayed(("hex", bytes((port,))), listener)

    def test_a_five_byte_value_is_no_port(self):
        listener = Listener()
        port = listener.port
        self.expect_engine(("hex", bytes((port & 0xFF, port >> 8, 0, 0, 0))), listener)

    def test_zero_is_no_port(self):
        listener = Listener()
        kelwine.set_server_port(wine, 0)
        path = fresh_record("port_zero")
        try:
            result = wine.launch(plain, "-acommand form", env=kelwine.engine_env(path, exit_code=ENGINE_EXIT))
        finally:
            connections = listener.close()
        self.assertEqual(connections, [])
        self.assertEqual(result.exit, ENGINE_EXIT, result)
        self.assertEqual(Record(path).command_line, "-acommand form")

    def test_a_string_of_digits_is_too_long_to_be_a_port(self):
        listener = Listener()
        digits = str(listener.port).encode("utf-16-le") + b"\0\0"
        self.expect_engine(("hex(1)", digits), listener)

    def test_a_string_of_one_character_is_read_by_its_bytes(self):
        # One UTF-16 unit and its terminator are four bytes: the unit is the port.
        listener = Listener()
        port = listener.port
        if 0xD800 <= port <= 0xDFFF:
            self.skipTest("the port is a surrogate unit")
        self.expect_relayed(("hex(1)", bytes((port & 0xFF, port >> 8, 0, 0))), listener)


def register_engine_path(value):
    escaped = value.replace("\\", "\\\\").replace('"', '\\"')
    wine.regedit_import(f'[-HKEY_CLASSES_ROOT\\KelFile10]\n\n[HKEY_CLASSES_ROOT\\KelFile10\\DLL]\n@="{escaped}"\n')


class EnginePathValues(unittest.TestCase):
    def tearDown(self):
        kelwine.forget_file_type(wine)

    def launcher_alone(self, name):
        folder = work_dir("faults", "path_" + name)
        return place(kelwine.KEL_EXE, folder)

    def test_a_path_of_300_characters(self):
        exe = self.launcher_alone("long")
        base = work_dir("faults", "deep")
        folder = base
        # Folders of 50 characters until the engine's Windows path is exactly 300 long.
        while len(winpath(os.path.join(folder, "Kel.dll"))) + 51 <= 300:
            folder = os.path.join(folder, "d" * 50)
        pad = 300 - len(winpath(os.path.join(folder, "x", "Kel.dll"))) + 1
        folder = os.path.join(folder, "e" * pad)
        os.makedirs(folder)
        engine = place(kelwine.KEL_DLL, folder)
        self.assertEqual(len(winpath(engine)), 300)
        register_engine_path(winpath(engine))
        path = os.path.join(os.path.dirname(exe), "record.txt")
        result = wine.launch(exe, "app.Main", env=kelwine.engine_env(path, exit_code=9))
        record = Record(path)
        self.assertEqual(result.exit, 9, result)
        self.assertEqual(record.get("engine_path"), winpath(engine))
        self.assertEqual(record.command_line, "app.Main")

    def test_a_lone_quote(self):
        exe = self.launcher_alone("quote")
        register_engine_path('"')
        kelwine.expect_message_box(self, wine, exe, "Could not find DLL: Kel.DLL", "Error Loading DLL")

    def test_a_binary_value_without_terminator(self):
        exe = self.launcher_alone("binary")
        engines = work_dir("faults", "binary_engine")
        engine = place(kelwine.KEL_DLL, engines, "Bin Engine.dll")
        data = winpath(engine).encode("utf-16-le")
        wine.regedit_import("[-HKEY_CLASSES_ROOT\\KelFile10]\n\n[HKEY_CLASSES_ROOT\\KelFile10\\DLL]\n@=hex:"
                            + ",".join(f"{b:02x}" for b in data) + "\n")
        self.assertEqual(wine.reg_query(r"HKCR\KelFile10\DLL")[0], "REG_BINARY")
        path = os.path.join(os.path.dirname(exe), "record.txt")
        result = wine.launch(exe, "app.Main", env=kelwine.engine_env(path, exit_code=11))
        record = Record(path)
        self.assertEqual(result.exit, 11, result)
        self.assertEqual(record.get("engine_path"), winpath(engine))


class LongCommandLine(unittest.TestCase):
    # The platform's limit is 32767 units with the terminator: 32766 of text.
    LIMIT = 32767

    def spawn_long(self, application, command_line, record):
        hex_file = os.path.join(os.path.dirname(plain), "long_line.hex")
        with open(hex_file, "w") as f:
            f.write(command_line.encode("utf-8").hex())
        return wine.run([os.path.join(kelwine.HELPERS, "spawn.exe"), "--timeout", "30000", "--cwd",
                         winpath(os.path.dirname(plain)), winpath(application), "@" + winpath(hex_file)],
                        env=kelwine.engine_env(record, exit_code=12), timeout=60)

    def long_line(self, total):
        head = f'"{winpath(plain)}" '
        # Characters of every kind a person could type, in a pattern that a
        # lost or doubled piece anywhere changes; the last one is unlike the rest.
        alphabet = "abc DEF\t\"q\" 123 -x /y \u00e9\u20ac_"
        body = "".join(alphabet[i % len(alphabet)] + str(i % 10) for i in range(total))
        line = head + body[:total - len(head) - 1] + "Z"
        self.assertEqual(len(line), total)
        return head, line

    def test_the_longest_line_the_platform_passes_reaches_the_engine_intact(self):
        path = fresh_record("long_line")
        head, line = self.long_line(self.LIMIT - 1)
        result = self.spawn_long(plain, line, path)
        self.assertEqual(result.exit, 12, result)
        received = Record(path).command_line
        self.assertEqual(len(received), len(line) - len(head))
        self.assertEqual(received, line[len(head):])

    def test_at_32767_characters_the_engine_gets_all_the_platform_delivered(self):
        # What a plain program receives of the same line is the yardstick: the
        # launcher may lose nothing more.
        head, line = self.long_line(self.LIMIT)
        seen = self.spawn_long(os.path.join(kelwine.HELPERS, "cmdlen.exe"), line, fresh_record("unused"))
        delivered = bytes.fromhex(seen.values()["line"]).decode("utf-8")
        self.assertTrue(line.startswith(delivered), "the platform changed the line, not only shortened it")
        print(f"the platform delivered {len(delivered)} of {len(line)} characters", flush=True)
        path = fresh_record("long_line_max")
        result = self.spawn_long(plain, line, path)
        self.assertEqual(result.exit, 12, result)
        self.assertEqual(Record(path).command_line, delivered[len(head):])


class EngineEndsTheProcess(unittest.TestCase):
    def test_the_exit_code_passes_through(self):
        folder = work_dir("faults", "exit_engine")
        exe = place(kelwine.KEL_EXE, folder)
        place(os.path.join(kelwine.E2E, "exitengine", "Kel.dll"), folder)
        for code in (37, 0, 250):
            with self.subTest(code=code):
                path = os.path.join(folder, "record.txt")
                if os.path.exists(path):
                    os.remove(path)
                result = wine.launch(exe, "app.Main", env=kelwine.engine_env(path, exit_code=code))
                self.assertEqual(result.exit, code, result)
                self.assertEqual(Record(path).get("entered"), "1", "the entry routine did not run")


class WindowClassRegistrations(unittest.TestCase):
    def test_failed_registrations_leave_room_for_a_later_class(self):
        # The platform layer keeps one slot per registered class for its
        # window procedure; sixteen refused registrations must not use them up.
        result = wine.run([os.path.join(kelwine.HELPERS, "classslots.exe"), "16"])
        values = result.values()
        self.assertEqual((values.get("first"), values.get("failures")), ("1", "16"), result)
        self.assertEqual(values.get("registered"), "1", result)
        self.assertEqual(values.get("procedure_reached"), "1", result)


class OversizedResources(unittest.TestCase):
    def run_copy(self, app, exe_name):
        folder = work_dir("faults", "res_" + app)
        place(kelwine.KEL_DLL, folder)
        exe = place(os.path.join(kelwine.APPS, app, exe_name), folder)
        path = os.path.join(folder, "record.txt")
        started = time.time()
        result = wine.launch(exe, "doc.kel", env=kelwine.engine_env(path, exit_code=14))
        took = time.time() - started
        record = Record(path)
        self.assertEqual(result.exit, 14, result)
        self.assertEqual(record.command_line, "doc.kel")
        print(f"{exe_name}: engine entered after {took:.2f} s, splash up at entry: {record.get('splash_at_entry')}",
              flush=True)
        return record

    def test_a_configuration_of_one_mebibyte(self):
        record = self.run_copy("faultbig", "FaultBig.exe")
        self.assertEqual(record.get("splash_at_entry"), "1", "the usable last entry was not found")

    def test_a_configuration_of_10000_entries(self):
        record = self.run_copy("faultmany", "FaultMany.exe")
        self.assertEqual(record.get("splash_at_entry"), "1", "the usable last entry was not found")

    def test_a_cut_bitmap(self):
        # Shorter than the two headers is no bitmap; from the headers on, the
        # whole rows present are shown and the rest of the splash stays blank.
        for n, shown in ((0, "0"), (53, "0"), (54, "1"), (280, "1"), (67853, "1")):
            with self.subTest(length=n):
                record = self.run_copy(f"bmpcut{n}", f"BmpCut{n}.exe")
                self.assertEqual(record.get("splash_at_entry"), shown)


if __name__ == "__main__":
    unittest.main()
