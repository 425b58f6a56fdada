"""velmora on a real NTFS volume (an image mounted with ntfs-3g), run as a
user would run it, standard input included. Every result is checked without
velmora: the DOS names are read back with os.getxattr, and every other entry,
content and short name must be exactly as before. After each run the volume
is unmounted, checked with ntfsfix and mounted again, and must still hold
exactly what was expected.

    python3 test_ntfs.py /path/to/velmora
"""

import errno
import fcntl
import os
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import expected as E  # noqa: E402
from ntfs_volume import (DOS_NAME, VolumeChecks, check_prerequisites_or_exit,  # noqa: E402
                         create_items, open_populated, run_velmora, with_changes)

VELMORA = None  # set from the command line

# The items every volume starts with: (relative path, content or None for a
# folder, DOS name or None). A link is ("link", target).
FIXTURE = [
    ("A long file name.txt", b"alpha\n", "ALONGF~1.TXT"),
    ("plain.txt", b"plain\n", None),
    ("other.txt", b"other\n", None),
    ("Program Files", None, "PROGRA~1"),
    ("Program Files/readme.txt", b"readme\n", None),
    ("Program Files/Other Document.doc", b"document\n", "OTHERD~1.DOC"),
    ("Data Folder", None, None),
    ("Data Folder/twin.txt", b"twin\n", None),
    ("link to plain", ("link", "plain.txt"), "LINKTO~1"),
]
# A second name for Data Folder/twin.txt: ntfs-3g gives no DOS name to a
# file with more than one hard link.
HARD_LINK = ("Data Folder/twin.txt", "Data Folder/twin again.txt")


def populate(volume):
    create_items(volume, FIXTURE)
    os.link(volume.path(HARD_LINK[0]), volume.path(HARD_LINK[1]))


class NtfsCase(VolumeChecks, unittest.TestCase):
    """A fresh, populated volume per run; `changes` maps a relative path to
    the DOS name it must hold afterwards; everything else must not move."""

    def open_volume(self, read_only=False):
        return open_populated(populate, read_only)

    def expect(self, volume, args, stdin, output, code, changes, cwd=None, before=None,
               locked=None):
        """Runs velmora and checks its output, its exit status and the whole
        volume. `locked`: a relative path held under an exclusive flock, as
        a running velmora holds its item, for the time of the run."""
        before = volume.snapshot() if before is None else before
        args = [a.format(root=volume.root) for a in args]
        held = None
        if locked is not None:
            held = os.open(volume.path(locked), os.O_RDONLY)
            fcntl.flock(held, fcntl.LOCK_EX | fcntl.LOCK_NB)
        try:
            status, out, err = run_velmora(VELMORA, args, stdin=stdin,
                                           cwd=volume.path(cwd) if cwd else None)
        finally:
            if held is not None:
                os.close(held)
        self.assertEqual(out.decode("utf-8", "replace"), output.format(root=volume.root))
        self.assertEqual(err, b"")
        self.assertEqual(status, E.exit_status(code))

        # What the run did must be on the disk, and the disk sound.
        self.check_volume(volume, with_changes(before, changes))

    def run_cases(self, cases, read_only=False):
        for label, args, cwd, stdin, output, code, changes in cases:
            with self.subTest(label):
                volume = self.open_volume(read_only=read_only)
                try:
                    self.expect(volume, args, stdin, output, code, changes, cwd=cwd)
                finally:
                    volume.close()


class QueryTest(NtfsCase):
    """A path alone shows the entry's current short name, exit code 1. With
    a new name but a missing target, the walk of the path fails first."""

    CASES = [
        ("file with a DOS name", ["/F:{root}/A long file name.txt"], None,
         E.query("ALONGF~1.TXT"), 1),
        ("file without one", ["/F:{root}/plain.txt"], None, E.query("plain.txt"), 1),
        ("folder", ["/F:{root}/Program Files"], None, E.query("PROGRA~1"), 1),
        ("item below a folder with a DOS name", ["/F:{root}/Program Files/Other Document.doc"],
         None, E.query("OTHERD~1.DOC"), 1),
        ("relative name", ["/F:A long file name.txt"], ".", E.query("ALONGF~1.TXT"), 1),
        ("relative name through ..", ["/F:../A long file name.txt"], "Program Files",
         E.query("ALONGF~1.TXT"), 1),
        ("relative name of a folder", ["/F:Program Files"], ".", E.query("PROGRA~1"), 1),
        ("mount root", ["/F:{root}"], None, E.query("mnt"), 1),
        ("mount root with a trailing slash", ["/F:{root}/"], None, E.query(""), 1),
        ("a link's own entry, not its target's", ["/F:{root}/link to plain"], None,
         E.query("LINKTO~1"), 1),
        ("missing item", ["/F:{root}/missing.txt", "/SFN:NEW.TXT", "/Y"], None,
         E.short_path_failure(2), 2),
        ("missing folder on the way", ["/F:{root}/No Folder/plain.txt", "/SFN:NEW.TXT", "/Y"],
         None, E.short_path_failure(3), 3),
        ("a file taken for a folder", ["/F:{root}/plain.txt/x", "/SFN:NEW.TXT", "/Y"], None,
         E.short_path_failure(3), 3),
        ("missing relative item", ["/F:missing.txt"], ".", E.short_path_failure(2), 2),
    ]

    def test_queries_change_nothing(self):
        # Queries change nothing, so one volume serves them all; each run is
        # still followed by the full check of the volume.
        volume = self.open_volume()
        try:
            before = volume.snapshot()
            for label, args, cwd, output, code in self.CASES:
                with self.subTest(label):
                    self.expect(volume, args, b"y\n", output, code, {}, cwd=cwd, before=before)
        finally:
            volume.close()


ALONG = "/F:{root}/A long file name.txt"
PLAIN = "/F:{root}/plain.txt"


class ChangeTest(NtfsCase):

    def test_change_with_y(self):
        q_along = E.query("ALONGF~1.TXT")
        q_plain = E.query("plain.txt")
        self.run_cases([
            ("file", [ALONG, "/SFN:NEWNAME.TXT", "/Y"], None, b"",
             q_along + E.outcome(0), 0, {"A long file name.txt": "NEWNAME.TXT"}),
            ("folder", ["/F:{root}/Program Files", "/SFN:PROGS", "/Y"], None, b"",
             E.query("PROGRA~1") + E.outcome(0), 0, {"Program Files": "PROGS"}),
            ("file without a DOS name", [PLAIN, "/SFN:PLAIN1.TXT", "/Y"], None, b"",
             q_plain + E.outcome(0), 0, {"plain.txt": "PLAIN1.TXT"}),
            ("relative name", ["/F:Other Document.doc", "/SFN:DOC.DOC", "/Y"], "Program Files", b"",
             E.query("OTHERD~1.DOC") + E.outcome(0), 0,
             {"Program Files/Other Document.doc": "DOC.DOC"}),
            ("a link's own entry; its target keeps its name",
             ["/F:{root}/link to plain", "/SFN:LINK.LNK", "/Y"], None, b"",
             E.query("LINKTO~1") + E.outcome(0), 0, {"link to plain": "LINK.LNK"}),
            # The item itself never clashes with its new name.
            ("its own short name again", [ALONG, "/SFN:ALONGF~1.TXT", "/Y"], None, b"",
             q_along + E.outcome(0), 0, {}),
            ("its own long name", [PLAIN, "/SFN:PLAIN.TXT", "/Y"], None, b"",
             q_plain + E.outcome(0), 0, {"plain.txt": "PLAIN.TXT"}),
            # Uniqueness is per folder.
            ("a short name used in another folder", [PLAIN, "/SFN:OTHERD~1.DOC", "/Y"], None, b"",
             q_plain + E.outcome(0), 0, {"plain.txt": "OTHERD~1.DOC"}),
            ("eight and three characters", [PLAIN, "/SFN:ABCDEFGH.TXT", "/Y"], None, b"",
             q_plain + E.outcome(0), 0, {"plain.txt": "ABCDEFGH.TXT"}),
            ("one character, no extension", [PLAIN, "/SFN:A", "/Y"], None, b"",
             q_plain + E.outcome(0), 0, {"plain.txt": "A"}),
            ("characters an 8.3 name may hold", [PLAIN, "/SFN:A-B_C~1!.X#$", "/Y"], None, b"",
             q_plain + E.outcome(0), 0, {"plain.txt": "A-B_C~1!.X#$"}),
        ])

    def test_a_lower_case_name_is_stored_in_upper_case(self):
        # ntfs-3g shows any stored DOS name in upper case, so only the image
        # tells what was written.
        volume = self.open_volume()
        try:
            self.expect(volume, [PLAIN, "/SFN:newname.txt", "/Y"], b"",
                        E.query("plain.txt") + E.outcome(0), 0, {"plain.txt": "NEWNAME.TXT"})
            volume.unmount()
            with open(volume.image, "rb") as image:
                content = image.read()
            self.assertNotIn("newname.txt".encode("utf-16-le"), content)
            self.assertIn("NEWNAME.TXT".encode("utf-16-le"), content)
        finally:
            volume.close()

    def test_confirmation(self):
        ask = E.query("ALONGF~1.TXT") + E.question("{root}/A long file name.txt")
        agreed = {"A long file name.txt": "NEWNAME.TXT"}
        cases = []
        for answer in (b"y\n", b"Y\n", b"yes\n", b"Yes\n", b"y"):
            cases.append(("answer %r" % answer, [ALONG, "/SFN:NEWNAME.TXT"], None, answer,
                          ask + E.outcome(0), 0, agreed))
        for answer in (b"n\n", b"\n", b" y\n", b"", b"no\n", b"\ty\n"):
            cases.append(("answer %r" % answer, [ALONG, "/SFN:NEWNAME.TXT"], None, answer,
                          ask + E.CANCELLED, 156, {}))
        self.run_cases(cases)

    def test_name_taken_in_the_folder(self):
        q_readme = E.query("readme.txt")
        q_plain = E.query("plain.txt")
        readme = "/F:{root}/Program Files/readme.txt"
        self.run_cases([
            ("another item's short name", [readme, "/SFN:OTHERD~1.DOC", "/Y"], None, b"",
             q_readme + E.outcome(183), 183, {}),
            ("another item's short name, other letter case", [readme, "/SFN:otherd~1.doc", "/Y"],
             None, b"", q_readme + E.outcome(183), 183, {}),
            ("another item's long name", [PLAIN, "/SFN:OTHER.TXT", "/Y"], None, b"",
             q_plain + E.outcome(183), 183, {}),
            ("another item's long name, other letter case", [PLAIN, "/SFN:Other.Txt", "/Y"], None,
             b"", q_plain + E.outcome(183), 183, {}),
            ("a folder, checked against its own parent folder",
             ["/F:{root}/Data Folder", "/SFN:ALONGF~1.TXT", "/Y"], None, b"",
             E.query("Data Folder") + E.outcome(183), 183, {}),
            # The root folder holds the volume's metadata files, which
            # ntfs-3g hides from listings but Windows still finds by name.
            ("a metadata file's name in the root", [PLAIN, "/SFN:$MFTMIRR", "/Y"], None, b"",
             q_plain + E.outcome(183), 183, {}),
            ("a metadata file's name elsewhere", [readme, "/SFN:$MFTMIRR", "/Y"], None, b"",
             q_readme + E.outcome(0), 0, {"Program Files/readme.txt": "$MFTMIRR"}),
            ("a folder given as a relative name",
             ["/F:Program Files", "/SFN:OTHER.TXT", "/Y"], ".", b"",
             E.query("PROGRA~1") + E.outcome(183), 183, {}),
        ])

    def test_invalid_names(self):
        invalid = [
            "A.TOOLONG", "A.B.C", "ABCDEFGHI", "ABCDEFGHIJKL", "A B", " A", "A.",
            ".TXT", ".", "..", "A+B", "A,B", "A;B", "A=B", "A[B", "A]B", "A*B", "A?B",
            'A"B', "A<B", "A>B", "A|B", "A:B", "A\\B", "A/B", "A\x01B", "A\tB", "A\x7fB",
            "\u00c9T\u00c9.TXT",
        ]
        q_plain = E.query("plain.txt")
        self.run_cases([
            ("name %r" % name, [PLAIN, "/SFN:" + name, "/Y"], None, b"",
             q_plain + E.outcome(87), 87, {})
            for name in invalid] + [
            # The root is no entry of any folder: there is no name to set
            # (ntfs-3g itself would answer EPERM, which reads as a missing
            # privilege).
            ("the volume root", ["/F:{root}", "/SFN:ROOT", "/Y"], None, b"",
             E.query("mnt") + E.outcome(87), 87, {}),
            ("the volume root as .", ["/F:.", "/SFN:ROOT", "/Y"], ".", b"",
             E.query(".") + E.outcome(87), 87, {}),
        ])

    def test_diagnostic_line_carries_the_exit_code(self):
        q_plain = E.query("plain.txt")
        twin = "/F:{root}/Data Folder/twin.txt"
        self.run_cases([
            ("/DtbxPjyb, success", [PLAIN, "/SFN:NEW.TXT", "/Y", "/DtbxPjyb"], None, b"",
             q_plain + E.outcome(0, diagnostic=True), 0, {"plain.txt": "NEW.TXT"}),
            ("-MegaDeth, success", ["-MegaDeth", PLAIN, "/SFN:NEW.TXT", "/Y"], None, b"",
             q_plain + E.outcome(0, diagnostic=True), 0, {"plain.txt": "NEW.TXT"}),
            ("-MegaDeth, name taken", [PLAIN, "/SFN:OTHER.TXT", "/Y", "-MegaDeth"], None, b"",
             q_plain + E.outcome(183, diagnostic=True), 183, {}),
            ("/DtbxPjyb, invalid name", [PLAIN, "/SFN:A.B.C", "/Y", "/DtbxPjyb"], None, b"",
             q_plain + E.outcome(87, diagnostic=True), 87, {}),
            # 1142 does not fit an 8-bit exit status: the line shows the
            # whole number, the status its low byte (118).
            ("/DtbxPjyb, file with two hard links", [twin, "/SFN:TWIN.TXT", "/Y", "/DtbxPjyb"],
             None, b"", E.query("twin.txt") + E.outcome(1142, diagnostic=True), 1142, {}),
        ])

    def test_item_in_use_by_another_run(self):
        # A second run on the same item at the same moment is refused; the
        # lock is what a running velmora holds between its open and its close.
        volume = self.open_volume()
        try:
            self.expect(volume, [ALONG, "/SFN:NEWNAME.TXT", "/Y"], b"",
                        E.query("ALONGF~1.TXT") + E.open_failure(32), 32, {},
                        locked="A long file name.txt")
            self.expect(volume, ["/F:{root}/Program Files", "/SFN:PROGS", "/Y"], b"",
                        E.query("PROGRA~1") + E.open_failure(32), 32, {},
                        locked="Program Files")
        finally:
            volume.close()

    def test_read_only_mount(self):
        self.run_cases([
            ("change refused at the open", [ALONG, "/SFN:NEWNAME.TXT", "/Y"], None, b"",
             E.query("ALONGF~1.TXT") + E.open_failure(19), 19, {}),
            ("query still works", [ALONG], None, b"", E.query("ALONGF~1.TXT"), 1, {}),
        ], read_only=True)


class WithoutShortNamesTest(unittest.TestCase):
    """On a file system that keeps no short names (the one /tmp is on here,
    not ntfs-3g), the long name is shown and a change is refused with 50."""

    def test_long_name_shown_and_change_refused(self):
        with tempfile.TemporaryDirectory(prefix="velmora-plain-") as folder:
            target = os.path.join(folder, "A long file name.txt")
            with open(target, "wb") as item:
                item.write(b"alpha\n")
            try:
                os.getxattr(target, DOS_NAME)
                self.skipTest("the temporary folder keeps DOS names")
            except OSError as error:
                if error.errno not in (errno.ENOTSUP, errno.ENODATA):
                    raise
                if error.errno == errno.ENODATA:
                    self.skipTest("the temporary folder keeps DOS names")
            query = E.query("A long file name.txt")
            for args, output, code in (
                    (["/F:" + target], query, 1),
                    (["/F:" + target, "/SFN:ALONG.TXT", "/Y"], query + E.outcome(50), 50),
                    (["/F:" + target, "/SFN:A.B.C", "/Y"], query + E.outcome(50), 50)):
                with self.subTest(args[1:]):
                    status, out, _ = run_velmora(VELMORA, args)
                    self.assertEqual(out.decode(), output)
                    self.assertEqual(status, code)
                    with open(target, "rb") as item:
                        self.assertEqual(item.read(), b"alpha\n")
                    self.assertEqual(os.listdir(folder), ["A long file name.txt"])


class ProgramNameTest(unittest.TestCase):
    """The slash separates on Linux: invoked by a full path, velmora names
    itself by its last component on the syntax line."""

    def test_syntax_line_names_the_last_component(self):
        for argv0, shown in (("/usr/local/bin/velmora", "velmora"), ("./velmora", "velmora"),
                             ("velmora", "velmora"), ("C:\\Tools\\velmora.exe",
                                                      "C:\\Tools\\velmora.exe")):
            with self.subTest(argv0):
                status, out, _ = run_velmora(VELMORA, [], argv0=argv0)
                self.assertIn(E.syntax_line(shown), out.decode())
                self.assertEqual(status, 87)


def main():
    global VELMORA
    if len(sys.argv) < 2:
        print("usage: test_ntfs.py /path/to/velmora [unittest arguments]")
        return 2
    VELMORA = os.path.abspath(sys.argv.pop(1))
    check_prerequisites_or_exit()
    program = unittest.main(exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
