#!/usr/bin/python3
"""tools/check-programs finds the programs a script calls, and only those."""
import importlib.machinery
import importlib.util
import os
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
_loader = importlib.machinery.SourceFileLoader("check_programs", os.path.join(HERE, "..", "tools", "check-programs"))
_spec = importlib.util.spec_from_loader("check_programs", _loader)
cp = importlib.util.module_from_spec(_spec)
_loader.exec_module(cp)


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
