#!/usr/bin/python3
"""tools/check-programs finds the programs a script calls, and only those."""
import os
import types
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
# tools/check-programs has no .py suffix, so it is run into a module of its own.
_path = os.path.join(HERE, "..", "tools", "check-programs")
cp = types.ModuleType("check_programs")
cp.__file__ = _path
with open(_path, encoding="utf-8") as _f:
    exec(compile(_f.read(), _path, "exec"), cp.__dict__)


class Scanner(unittest.TestCase):
    def test_what_each_kind_of_file_calls(self):
        cases = [
            ("shell", "xdotool key Return", {"xdotool"}),
            ("shell", "a=$(compare -metric AE x y) || import -window root z", {"compare", "import"}),
            ("shell", 'echo "$(socat -V | head -1)"', {"socat", "head"}),
            ("shell", "X=1 Y=2 sudo -E nice wine prog.exe && timeout 5 Xvfb :1 &", {"wine", "Xvfb"}),
            ("shell", "xdotool mousemove $((l + (r - l) / 2)) click 1", {"xdotool"}),
            ("shell", "for f in gcab cabextract; do echo $f; done", set()),
            ("shell", "case $x in\n  gcab | import) run ;;\nesac", {"run"}),
            ("shell", "pkgs=(\n  socat chromium\n)\nconvert a b", {"convert"}),
            ("shell", "step() { cat; }\nstep x", {"cat"}),
            ("shell", "# import screenshots here\necho 'xdotool is needed'", set()),
            ("shell", "f=${2:?--filter needs a pattern}", set()),
            ("shell", "command -v Xvfb >/dev/null || exit 1; w=${W:-/usr/lib/wine/wine64}", {"Xvfb", "wine64"}),
            ("shell", "cat <<'EOF'\ncompare this\nEOF\nwc -l", {"cat", "wc"}),
            ("python", 'subprocess.run(["cabextract", "-l", cab])', {"cabextract"}),
            ("python", 'cmd = ["/usr/bin/gcab", "-c"]\nargs = ["--port", "0"]', {"gcab"}),
            ("js", "spawn('node', []); chromium.launch({executablePath: '/usr/bin/chromium'})", {"node", "chromium"}),
            ("cmake", "find_program(RC NAMES llvm-rc llvm-rc-14 REQUIRED)\nadd_test(NAME t COMMAND socat -V)",
             {"llvm-rc", "llvm-rc-14", "socat"}),
        ]
        for kind, text, expected in cases:
            with self.subTest(kind=kind, text=text):
                self.assertEqual({word for _, word in cp.SCANNERS[kind](text)}, expected)


if __name__ == "__main__":
    unittest.main()
