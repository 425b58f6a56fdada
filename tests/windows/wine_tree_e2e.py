#!/usr/bin/env python3
"""velmora-tree.exe end to end under wine64, compared byte for byte.

The tree lives in the wine prefix's drive C: (which wine reports as NTFS),
under a root whose name is outside every ANSI code page, with names in
Japanese, Greek and an emoji, a folder chain whose paths pass 260
characters, and a link back up the tree, which wine shows as a reparse
point. Wine makes up a short name for every name that is not 8.3; the
expected names, and every system text, are asked of the same wine through
tree_probe.exe (wide-character calls), never written down.

Wine has no SetFileShortNameW: a process that calls it is ended. The cases
ask wine whether the call works; while it does not, a real change is taken
up to the call (privilege, folder, exclusive open of the entry) and no
further, and the change itself is proven on Linux against a real NTFS
volume.

usage: wine_tree_e2e.py --wine-run SCRIPT --prefix DIR --tree EXE --probe EXE CASE
CASE: setup | save | verify | dry-run | restore | held | refusals | console

Exit codes: 0 passed, 1 failed, 77 skipped (a missing tool outside CI; under
CI=true a missing tool fails).
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_e2e import Failures, Missing, text_mode  # noqa: E402

SKIPPED = 77
HEADER = b'velmora-tree listing 1\n'

# Below the prefix's drive_c: C:\velmora-tree-e2e.
WORK = 'velmora-tree-e2e'
ROOT_NAME = '\u30c4\u30ea\u30fc \u6728'          # "tree" in katakana, a blank, "tree" in kanji
JAPANESE = '\u65e5\u672c\u8a9e\u306e\u30d5\u30a1\u30a4\u30eb.txt'
GREEK = '\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac \u03ad\u03b3\u03b3\u03c1\u03b1\u03c6\u03b1'
EMOJI = '\U0001F600 emoji file.txt'
LINK = 'A link back up the tree'
DEEP = 'Program Files/Common Files/' + '/'.join(
    'A folder with a long name, number %d' % n for n in range(1, 7))
DEEP_FILE = DEEP + '/A file at the end of a long path.txt'
FILES = ['A long file name.txt', 'SHORT.TXT', 'lower.txt', JAPANESE, 'ends with a dot.',
         GREEK + '/' + EMOJI, GREEK + '/Another long name.doc', DEEP_FILE]


def ascii_lower(text):
    return ''.join(c.lower() if 'A' <= c <= 'Z' else c for c in text)


def quote(text):
    """A name or path as velmora-tree writes it in messages: backslashes
    doubled (the names here hold no other byte it escapes)."""
    return text.replace('\\', '\\\\')



# About one start in a few hundred, wine64 here ends a program before it
# runs, with exit code 1 and no output at all. No program under test ends
# that way (each prints something whenever it exits with 1), so such a run
# is started again; a program that really did so would do it every time.
WINE_START_ATTEMPTS = 3


def wine_failed_to_start(code, out, err):
    return code == 1 and out == b'' and err == b''

class Tree:
    """The folders and files of the run, in Linux and in Windows terms."""

    def __init__(self, prefix):
        self.work = os.path.join(prefix, 'drive_c', WORK)
        self.root = os.path.join(self.work, ROOT_NAME)

    def unix(self, relative=''):
        return os.path.join(self.root, *relative.split('/')) if relative else self.root

    @staticmethod
    def windows(relative=''):
        path = 'C:\\' + WORK + '\\' + ROOT_NAME
        return path + '\\' + relative.replace('/', '\\') if relative else path

    def work_file(self, name):
        return os.path.join(self.work, name), 'C:\\' + WORK + '\\' + name

    def make(self):
        shutil.rmtree(self.work, ignore_errors=True)
        for relative in FILES:
            path = self.unix(relative)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, 'wb') as item:
                item.write(b'velmora-tree test item\n')
        os.symlink('..', self.unix(LINK))

    def walk(self, relative=''):
        """Every item below the root, depth first, each folder's names in
        byte order, links listed but not walked into; and the folders."""
        items, folders = [], 1
        for name in sorted(os.listdir(self.unix(relative)), key=lambda n: n.encode('utf-8')):
            path = relative + '/' + name if relative else name
            items.append(path)
            full = self.unix(path)
            if os.path.isdir(full) and not os.path.islink(full):
                below, count = self.walk(path)
                items += below
                folders += count
        return items, folders


class TreeWine:
    def __init__(self, options):
        self.options = options

    def run(self, program, arguments, stdin=b''):
        """(exit code, stdout, stderr) of a Windows program."""
        command = ['/bin/sh', self.options.wine_run, self.options.prefix, program] + [
            a if isinstance(a, bytes) else a.encode('utf-8') for a in arguments]
        env = dict(os.environ, LANG='C.UTF-8')
        env.pop('LC_ALL', None)
        # Files, not pipes: wine's own helper processes inherit the handles
        # and outlive the program by seconds; a pipe would wait for them.
        for attempt in range(WINE_START_ATTEMPTS):
            with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
                completed = subprocess.run(command, input=stdin, stdout=out, stderr=err,
                                           env=env, timeout=120)
                out.seek(0)
                err.seek(0)
                if completed.returncode == 125:
                    raise Missing(err.read().decode('utf-8', 'replace').strip())
                result = completed.returncode, out.read(), err.read()
                if not wine_failed_to_start(*result):
                    break
        return result

    def tree(self, *arguments, stdin=b''):
        return self.run(self.options.tree, list(arguments), stdin)

    def probe(self, *arguments):
        code, out, err = self.run(self.options.probe, list(arguments))
        if code == 2 or code == 3:
            raise RuntimeError('tree_probe.exe %s: %r %r' % (arguments, out, err))
        return code, out, err

    def text(self, error):
        """The system's text for `error`, without its line end."""
        code, out, _ = self.probe('text', str(error))
        return out.rstrip(b'\r\n \t')

    def error(self, error):
        text = self.text(error)
        return b'error %d' % error + (b': ' + text if text else b'')

    def short_names(self, tree, relatives):
        """Wine's short name of each item: the last component of its short
        path, or None when that is the long name itself."""
        paths = ['\\\\?\\' + tree.windows(relative) for relative in relatives]
        _, out, _ = self.probe('short', *paths)
        lines = out.decode('utf-8').split('\n')[:-1]
        if len(lines) != len(relatives):
            raise RuntimeError('tree_probe.exe short: %r' % out)
        names = []
        for relative, line in zip(relatives, lines):
            if not line.startswith('ok '):
                raise RuntimeError('no short path for %r: %s' % (relative, line))
            last = line[3:].rpartition('\\')[2]
            long_name = relative.rpartition('/')[2]
            names.append(None if ascii_lower(last) == ascii_lower(long_name) else last)
        return names


def expected_listing(wine, tree):
    items, folders = tree.walk()
    names = wine.short_names(tree, items)
    lines = [(short + '\t' + path + '\n').encode('utf-8')
             for path, short in zip(items, names) if short is not None]
    return HEADER + b''.join(lines), len(lines), folders, dict(zip(items, names))


def listing(*lines):
    return HEADER + b''.join((short + '\t' + path + '\n').encode('utf-8') for short, path in lines)


def expect(failures, label, expected, actual):
    """(code, out, err) against (code, out, err)."""
    for part, want, got in zip(('exit code', 'standard output', 'standard error'),
                               expected, actual):
        failures.check('%s: %s' % (label, part), want, got)


# --- cases -----------------------------------------------------------------

def case_setup(options, failures, wine, tree):
    tree.make()
    code, _, _ = wine.probe('text', '2')
    failures.check('wine prefix answers', 0, code)
    # The premises of the cases: a path beyond MAX_PATH, and names wine gave
    # a short name of its own.
    failures.check('the deep item\'s path is longer than 260 characters', True,
                   len(tree.windows(DEEP_FILE)) > 260)
    names = wine.short_names(tree, [JAPANESE, GREEK + '/' + EMOJI, LINK, 'SHORT.TXT'])
    print('      wine: short names %r' % names)
    failures.check('wine gives non-8.3 names a short name, 8.3 names none',
                   [True, True, True, None], [n is not None for n in names[:3]] + names[3:])


def case_save(options, failures, wine, tree):
    expected, count, folders, _ = expected_listing(wine, tree)
    print(expected.decode('utf-8'))
    saved, saved_windows = tree.work_file('\u30ea\u30b9\u30c8.txt')
    message = text_mode(b'save: %d short names from %d folders\n' % (count, folders))
    for attempt in ('first save', 'second save over the first'):
        expect(failures, attempt, (0, message, b''),
               wine.tree('save', tree.windows(), saved_windows))
        with open(saved, 'rb') as written:
            failures.check(attempt + ': the listing', expected, written.read())
    failures.check('no temporary file is left beside the listing',
                   sorted([ROOT_NAME, os.path.basename(saved)]), sorted(os.listdir(tree.work)))
    # To standard output: the same bytes, no line end changed.
    expect(failures, 'save to standard output', (0, expected, b''),
           wine.tree('save', tree.windows(), '-'))
    # A root given with a trailing backslash, relative to the folder above,
    # or with forward slashes names the same tree.
    for label, root in (('trailing backslash', tree.windows() + '\\'),
                        ('forward slashes', tree.windows().replace('\\', '/')),
                        ('a \\\\?\\ path', '\\\\?\\' + tree.windows())):
        expect(failures, 'save, root with ' + label, (0, expected, b''),
               wine.tree('save', root, '-'))


def case_verify(options, failures, wine, tree):
    expected, count, _, names = expected_listing(wine, tree)
    summary = b'verify: %d listed, %d match, 0 differ, 0 missing, 0 failed\n' % (count, count)
    saved, saved_windows = tree.work_file('saved.txt')
    with open(saved, 'wb') as written:
        written.write(expected)
    expect(failures, 'verify a fresh listing', (0, text_mode(summary), b''),
           wine.tree('verify', tree.windows(), saved_windows))
    expect(failures, 'verify from standard input', (0, text_mode(summary), b''),
           wine.tree('verify', tree.windows(), '-', stdin=expected))
    # Standard input is read as bytes: a Ctrl-Z, where a text-mode stream
    # would end, reaches the reader, which refuses it.
    refused = (b'velmora-tree: standard input:%d: a control character must be written as '
               b'\\xHH; nothing was changed\n' % (count + 2))
    expect(failures, 'verify from standard input holding a Ctrl-Z',
           (3, b'', text_mode(refused)),
           wine.tree('verify', tree.windows(), '-', stdin=expected + b'BAD\x1a.TXT\tSHORT.TXT\n'))

    greek_a, greek_b = GREEK + '/' + EMOJI, GREEK + '/Another long name.doc'
    hand = listing(('NEWNAME.TXT', JAPANESE), (names[greek_b], greek_a),
                   ('MISSING.TXT', 'no such item.txt'), (names[DEEP_FILE], DEEP_FILE),
                   ('OTHER.TXT', DEEP_FILE.rpartition('/')[0] + '/no such file.txt'))
    lines = [('differs\tNEWNAME.TXT\t' + JAPANESE + '\tholds ' + names[JAPANESE]),
             'missing\tMISSING.TXT\tno such item.txt',
             'missing\tOTHER.TXT\t' + DEEP_FILE.rpartition('/')[0] + '/no such file.txt',
             ('differs\t' + names[greek_b] + '\t' + greek_a + '\tholds ' + names[greek_a])]
    out = ''.join(line + '\n' for line in lines).encode('utf-8')
    out += b'verify: 5 listed, 1 match, 2 differ, 2 missing, 0 failed\n'
    expect(failures, 'verify a listing with differences', (1, text_mode(out), b''),
           wine.tree('verify', tree.windows(), '-', stdin=hand))


def case_dry_run(options, failures, wine, tree):
    expected, count, _, names = expected_listing(wine, tree)
    summary = (b'restore --dry-run: %d listed, 0 to change in 0 steps (0 temporary), '
               b'%d already right, 0 in conflict, 0 missing, 0 invalid, 0 failed\n' % (count, count))
    expect(failures, 'dry run of a fresh listing', (0, text_mode(summary), b''),
           wine.tree('restore', '--dry-run', tree.windows(), '-', stdin=expected))

    # Two Greek-folder names swapped (a cycle: one temporary name), a new
    # name for the Japanese file and for the item past 260 characters, a
    # name another item keeps, a missing item.
    greek_a, greek_b = GREEK + '/' + EMOJI, GREEK + '/Another long name.doc'
    hand = listing(('NEWNAME.TXT', JAPANESE), (names[greek_b], greek_a),
                   (names[greek_a], greek_b), ('DEEPNAME.TXT', DEEP_FILE),
                   (names['A long file name.txt'], 'SHORT.TXT'),
                   ('MISSING.TXT', 'no such item.txt'))
    lines = ['step\tNEWNAME.TXT\t%s\tfrom %s' % (JAPANESE, names[JAPANESE]),
             'conflict\t%s\tSHORT.TXT\tthe short name of A long file name.txt, which keeps it'
             % names['A long file name.txt'],
             'missing\tMISSING.TXT\tno such item.txt',
             'step\tDEEPNAME.TXT\t%s\tfrom %s' % (DEEP_FILE, names[DEEP_FILE]),
             'step\tVT000001.$$$\t%s\tfrom %s, temporary' % (greek_b, names[greek_b]),
             'step\t%s\t%s\tfrom %s' % (names[greek_b], greek_a, names[greek_a]),
             'step\t%s\t%s\tfrom VT000001.$$$' % (names[greek_a], greek_b)]
    out = ''.join(line + '\n' for line in lines).encode('utf-8')
    out += (b'restore --dry-run: 6 listed, 4 to change in 5 steps (1 temporary), '
            b'0 already right, 1 in conflict, 1 missing, 0 invalid, 0 failed\n')
    expect(failures, 'dry run of a listing with changes', (1, text_mode(out), b''),
           wine.tree('restore', '--dry-run', tree.windows(), '-', stdin=hand))
    failures.check('the dry run changed nothing', expected, expected_listing(wine, tree)[0])

    # A listed folder reached through a link (a reparse point) is not
    # entered, though the item is there; a backslash inside a listed name
    # would lead into another folder, and is refused.
    through = listing(('LINKED.TXT', LINK + '/' + ROOT_NAME + '/A long file name.txt'),
                      ('BACK.TXT', 'Program Files\\\\Common Files/x.txt'))
    out = ('missing\tLINKED.TXT\t%s/%s/A long file name.txt\n' % (LINK, ROOT_NAME)).encode('utf-8')
    out += (b'failed\tBACK.TXT\tProgram Files\\\\Common Files/x.txt\t' + wine.error(123) + b'\n')
    out += (b'restore --dry-run: 2 listed, 0 to change in 0 steps (0 temporary), '
            b'0 already right, 0 in conflict, 1 missing, 0 invalid, 1 failed\n')
    expect(failures, 'dry run through a link and with a backslash', (1, text_mode(out), b''),
           wine.tree('restore', '--dry-run', tree.windows(), '-', stdin=through))


def wine_sets_short_names(wine, tree):
    """Asks wine: (True, _) when SetFileShortNameW works; else (False, what
    the process ended with)."""
    scratch = os.path.join(tree.work, 'scratch')
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    with open(os.path.join(scratch, 'A scratch file.txt'), 'wb') as item:
        item.write(b'scratch\n')
    path = '\\\\?\\C:\\' + WORK + '\\scratch\\A scratch file.txt'
    code, out, err = wine.probe('setshort', path, 'SCRATCH.TXT')
    _, short, _ = wine.probe('short', path)
    shutil.rmtree(scratch, ignore_errors=True)
    works = code == 0 and out == b'ok\n' and short.endswith(b'\\SCRATCH.TXT\n')
    return works, (code, out, err)


def case_restore(options, failures, wine, tree):
    expected, count, _, names = expected_listing(wine, tree)
    # Nothing to change: the whole run, opened for change, without the set.
    summary = (b'restore: %d listed, 0 changed, %d already right, 0 in conflict, 0 missing, '
               b'0 invalid, 0 failed\n' % (count, count))
    expect(failures, 'restore of a fresh listing', (0, text_mode(summary), b''),
           wine.tree('restore', tree.windows(), '-', stdin=expected))

    works, (code, out, err) = wine_sets_short_names(wine, tree)
    print('      wine: SetFileShortNameW works: %s (exit %d, %r, %r)'
          % (works, code, out.split(b'\n')[0], err.split(b'\n')[0]))
    hand = listing(('NEWNAME.TXT', JAPANESE))
    if works:
        expect(failures, 'restore of a new name',
               (0, text_mode(('changed\tNEWNAME.TXT\t%s\twas %s\n' % (JAPANESE, names[JAPANESE]))
                             .encode('utf-8') +
                             b'restore: 1 listed, 1 changed, 0 already right, 0 in conflict, '
                             b'0 missing, 0 invalid, 0 failed\n'), b''),
               wine.tree('restore', tree.windows(), '-', stdin=hand))
        failures.check('the name is set', ['NEWNAME.TXT'], wine.short_names(tree, [JAPANESE]))
        return

    # The run ends where the probe's did: at the call itself, so the
    # privilege, the folder and the exclusive open of the entry all worked.
    # (Wine's exit status after the abort is 0 or 1, depending on its
    # debugger's timing: not compared.)
    signature = b'unimplemented function KERNEL32.dll.SetFileShortNameW'
    failures.check('wine ends a process that calls SetFileShortNameW', True, signature in err)
    _, tree_out, tree_err = wine.tree('restore', tree.windows(), '-', stdin=hand)
    failures.check('restore ends at SetFileShortNameW', True, signature in tree_err)
    failures.check('restore reported nothing before the end', False,
                   b'restore:' in tree_out or b'changed\t' in tree_out)
    failures.check('nothing was changed', expected, expected_listing(wine, tree)[0])


def case_held(options, failures, wine, tree):
    """An entry another process holds open is refused with 32 and stays as
    it is: the open is exclusive, and it reaches the entry the listing names
    (one past 260 characters, one with a trailing dot, one outside the ANSI
    code page), never another and never the set."""
    expected, _, _, names = expected_listing(wine, tree)
    for relative in (JAPANESE, DEEP_FILE, 'ends with a dot.'):
        marker, _ = tree.work_file('release')
        if os.path.exists(marker):
            os.remove(marker)
        holder_out = tempfile.TemporaryFile()
        holder = subprocess.Popen(
            ['/bin/sh', options.wine_run, options.prefix, options.probe, 'hold',
             '\\\\?\\' + tree.windows(relative), 'Z:' + marker.replace('/', '\\')],
            stdout=holder_out, stderr=subprocess.DEVNULL)
        try:
            deadline = time.time() + 60
            while time.time() < deadline:
                holder_out.seek(0)
                if holder_out.read():
                    break
                time.sleep(0.05)
            holder_out.seek(0)
            failures.check(relative + ': the probe holds it', b'held\n', holder_out.read())
            text = wine.error(32)
            out = (('failed\tNEWNAME.TXT\t%s\t' % relative).encode('utf-8') + text + b'\n' +
                   b'restore: 1 listed, 0 changed, 0 already right, 0 in conflict, 0 missing, '
                   b'0 invalid, 1 failed\n')
            expect(failures, relative + ': restore while held', (1, text_mode(out), b''),
                   wine.tree('restore', tree.windows(), '-',
                             stdin=listing(('NEWNAME.TXT', relative))))
        finally:
            with open(marker, 'wb'):
                pass
            holder.wait(timeout=120)
            os.remove(marker)
    failures.check('nothing was changed', expected, expected_listing(wine, tree)[0])


def case_refusals(options, failures, wine, tree):
    _, listing_path = tree.work_file('refusals.txt')
    missing_folder = 'C:\\' + WORK + '\\no such folder'
    table = [
        ('a file as the folder', ['save', tree.windows('SHORT.TXT'), listing_path],
         4, quote(tree.windows('SHORT.TXT')).encode('utf-8') + b': ' + wine.error(267)),
        ('a missing folder', ['save', missing_folder, listing_path],
         4, quote(missing_folder).encode('utf-8') + b': ' + wine.error(2)),
        ('a missing listing', ['verify', tree.windows(), listing_path],
         3, quote(listing_path).encode('utf-8') + b': cannot be read (' + wine.error(2) + b')'),
        ('a listing in a missing folder', ['save', tree.windows(), missing_folder + '\\x.txt'],
         4, quote(missing_folder + '\\x.txt').encode('utf-8') + b': cannot be written (' +
         wine.error(3) + b')'),
    ]
    for label, arguments, code, message in table:
        expect(failures, label, (code, b'', text_mode(b'velmora-tree: ' + message + b'\n')),
               wine.tree(*arguments))
    failures.check('no listing was written', [],
                   [n for n in os.listdir(tree.work) if n.startswith('refusals.txt')])


def run_on_terminal(options, arguments):
    """(exit code, what the terminal received) of velmora-tree.exe run on a
    pseudo-terminal, where wine gives it a console of its own."""
    import pty
    import select
    master, slave = pty.openpty()
    env = dict(os.environ, LANG='C.UTF-8', TERM='dumb')
    env.pop('LC_ALL', None)
    process = subprocess.Popen(
        ['/bin/sh', options.wine_run, options.prefix, options.tree] +
        [a.encode('utf-8') for a in arguments],
        stdin=slave, stdout=slave, stderr=slave, env=env, close_fds=True)
    os.close(slave)
    received = b''
    try:
        while True:
            ready, _, _ = select.select([master], [], [], 60)
            if not ready:
                break
            try:
                data = os.read(master, 4096)
            except OSError:   # the last writer has gone
                break
            if not data:
                break
            received += data
    finally:
        os.close(master)
    return process.wait(timeout=120), received


def case_console(options, failures, wine, tree):
    """On a console, text goes out as characters (WriteConsoleW), whatever
    the console's code page: the terminal behind wine's console receives
    the names as UTF-8. Bytes written to it as they are would arrive as one
    character per byte. (The terminal adds its own control sequences, turns
    tabs into blanks and wraps at 80 columns, so the names are looked for in
    short lines, not the lines compared; and wine's console shows any
    character beyond U+FFFF as two U+FFFD, so the emoji is left out.)"""
    _, _, _, names = expected_listing(wine, tree)
    path, windows = tree.work_file('console.txt')
    with open(path, 'wb') as written:
        written.write(listing(('NEWNAME.TXT', JAPANESE), ('OTHER', GREEK)))
    code, received = run_on_terminal(options, ['verify', tree.windows(), windows])
    failures.check('verify on a console: exit code', 1, code)
    for label, text in (('the Japanese name', JAPANESE), ('the Greek name', GREEK),
                        ('wine\'s short name', 'holds ' + names[GREEK])):
        failures.check('verify on a console shows %s' % label, True,
                       text.encode('utf-8') in received)
    # Standard error goes the same way.
    missing = 'C:\\' + GREEK + ' \u6728'
    code, received = run_on_terminal(options, ['save', missing, windows])
    failures.check('refusal on a console: exit code', 4, code)
    failures.check('refusal on a console shows the path', True,
                   quote(missing).encode('utf-8') in received)
    os.remove(path)


CASES = {
    'setup': case_setup,
    'save': case_save,
    'verify': case_verify,
    'dry-run': case_dry_run,
    'restore': case_restore,
    'held': case_held,
    'refusals': case_refusals,
    'console': case_console,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--wine-run', required=True)
    parser.add_argument('--prefix', required=True)
    parser.add_argument('--tree', required=True)
    parser.add_argument('--probe', required=True)
    parser.add_argument('case', choices=sorted(CASES))
    options = parser.parse_args()
    failures = Failures()
    try:
        CASES[options.case](options, failures, TreeWine(options), Tree(options.prefix))
    except Missing as missing:
        print('missing: %s' % missing)
        if os.environ.get('CI') == 'true':
            print('FAIL  a tool the tests need is missing, and CI=true')
            return 1
        return SKIPPED
    if failures.count:
        print('%d check(s) failed' % failures.count)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
