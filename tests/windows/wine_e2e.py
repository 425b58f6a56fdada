#!/usr/bin/env python3
"""velmora.exe end to end under wine64, compared byte for byte.

Every system answer (message texts, error numbers, the short names wine
makes up) is asked of the same wine through probe.exe, never written down.
Wine has no SetFileShortNameA, so no case here lets velmora reach it: each
one ends at a query, a refusal or a failed open. The change itself is proven
on the test double and on a real NTFS volume under Linux.

usage: wine_e2e.py --wine-run SCRIPT --prefix DIR --velmora EXE --probe EXE
                   --work DIR CASE
CASE: locale | setup | syntax | gate | query | refusal | missing | readonly | dbcs

Exit codes: 0 passed, 1 failed, 77 skipped (a missing tool outside CI; under
CI=true a missing tool fails).
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

SKIPPED = 77

# Wine passes a process exit code to Linux in 8 bits. Every number these
# cases expect is below 256, so nothing is lost; bigger ones are refused.
EXIT_BITS = 0xFF

JAPANESE_LOCALE = 'ja_JP.UTF-8'



# About one start in a few hundred, wine64 here ends a program before it
# runs, with exit code 1 and no output at all. No program under test ends
# that way (each prints something whenever it exits with 1), so such a run
# is started again; a program that really did so would do it every time.
WINE_START_ATTEMPTS = 3


def wine_failed_to_start(code, out, err):
    return code == 1 and out == b'' and err == b''

class Missing(Exception):
    """A tool the tests need is not on this machine."""


class Failures:
    def __init__(self):
        self.count = 0

    def check(self, label, expected, actual):
        if expected == actual:
            print('ok    %s' % label)
            return
        self.count += 1
        print('FAIL  %s' % label)
        print('      expected: %r' % (expected,))
        print('      actual:   %r' % (actual,))


def text_mode(data):
    """What msvcrt's text-mode stdout makes of bytes: every line feed gains
    a carriage return, also one that already follows a carriage return."""
    return data.replace(b'\n', b'\r\n')


def windows_path(unix_path):
    """Wine's drive Z: is the Linux root."""
    return 'Z:' + os.path.abspath(unix_path).replace('/', '\\')


def syntax_screen(program_name):
    """The syntax screen as velmora writes it, before text mode."""
    return (b'\n\nVelmora [Version 1.00]\n\n'
            b'\n Sets the 8.3 SFN (Short File Name) for the specified file or folder.'
            b'\n Requires Windows XP or later.\n\n'
            b'\n Syntax: ' + program_name + b' /F:filename [/SFN:shortname] [/Y]\n'
            b'\n /F:\tSpecifies an existing file or folder to modify.'
            b'\n /SFN:\tSpecifies the new short name.  Must be a valid 8.3 format name.'
            b"\n /Y\tSuppresses the 'Are you sure' prompt.\n"
            b'\n /? or -? displays this syntax and always returns 1.'
            b'\n A successful completion returns 0.\n\n'
            b'\n Velmora is free software from the Velmora project; it comes with no warranty.\n')


class Wine:
    def __init__(self, options):
        self.wine_run = options.wine_run
        self.prefix = options.prefix
        self.velmora = options.velmora
        self.probe_exe = options.probe
        self.work = options.work
        self.locale = None
        self.encoding = 'cp1252'

    def use_japanese_locale(self):
        self.locale = JAPANESE_LOCALE
        self.encoding = 'cp932'

    def environment(self):
        env = dict(os.environ)
        if self.locale is not None:
            env['LANG'] = self.locale
            env['LC_ALL'] = self.locale
        else:
            # The tests compare against wine's own texts, whatever language
            # they come in, but an English run keeps failures readable.
            env['LANG'] = 'C.UTF-8'
            env.pop('LC_ALL', None)
        return env

    def run(self, program, arguments, stdin=b''):
        """Runs a Windows program; returns (exit code, stdout bytes)."""
        command = ['/bin/sh', self.wine_run, self.prefix, program] + [
            a if isinstance(a, bytes) else a.encode('utf-8') for a in arguments]
        # Files, not pipes: wine's own helper processes inherit the handles
        # and outlive the program by seconds; a pipe would wait for them.
        for attempt in range(WINE_START_ATTEMPTS):
            with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
                completed = subprocess.run(command, input=stdin, stdout=out, stderr=err,
                                           env=self.environment(), timeout=120)
                out.seek(0)
                err.seek(0)
                if completed.returncode == 125:
                    raise Missing(err.read().decode('utf-8', 'replace').strip())
                result = completed.returncode, out.read()
                if not wine_failed_to_start(completed.returncode, result[1], err.read()):
                    break
        return result

    def probe(self, *arguments):
        code, out = self.run(self.probe_exe, list(arguments))
        if code == 2 or code == 3:
            raise RuntimeError('probe.exe %s: %r' % (arguments, out))
        return code, out

    def system_text(self, error):
        code, out = self.probe('text', str(error))
        if code != 0:
            raise RuntimeError('probe.exe text %d: %r' % (error, out))
        return out

    def short_path(self, path):
        """(0, short path bytes) or (error number, None)."""
        code, out = self.probe('short', path)
        if code == 0 and out.startswith(b'ok '):
            return 0, out[3:]
        if out.startswith(b'error '):
            return int(out[6:]), None
        raise RuntimeError('probe.exe short %r: %r' % (path, out))

    def open_error(self, path):
        code, out = self.probe('open', path)
        if code == 0 and out == b'ok':
            return 0
        if out.startswith(b'error '):
            return int(out[6:])
        raise RuntimeError('probe.exe open %r: %r' % (path, out))

    def short_name(self, path):
        """The last component of the short path wine gives for path, split
        at the last real backslash of the decoded text."""
        error, short = self.short_path(path)
        if error != 0:
            raise RuntimeError('wine has no short path for %r: error %d' % (path, error))
        text = short.decode(self.encoding)
        return text.rpartition('\\')[2].encode(self.encoding)


def exit_code(number):
    if number > EXIT_BITS:
        raise RuntimeError('exit code %d does not survive wine\'s 8-bit exit status' % number)
    return number


def expect_run(failures, wine, label, program, arguments, expected_out, expected_code,
               stdin=b''):
    code, out = wine.run(program, arguments, stdin)
    failures.check(label + ': output', expected_out, out)
    failures.check(label + ': exit code', exit_code(expected_code), code)


def query_output(name):
    return b"\nThe current SFN is: '" + name + b"'\n"


# --- cases -----------------------------------------------------------------

def japanese_locale_present():
    listed = subprocess.run(['locale', '-a'], stdout=subprocess.PIPE, check=True).stdout
    return b'ja_jp.utf8' in listed.lower().split()


def case_locale(options, failures):
    """Makes the Japanese locale wine needs for code page 932."""
    if not japanese_locale_present():
        if shutil.which('localedef') is None:
            raise Missing('localedef not found (Debian package locales)')
        subprocess.run(['localedef', '-i', 'ja_JP', '-f', 'UTF-8', JAPANESE_LOCALE],
                       check=True)
    failures.check('ja_JP.UTF-8 is installed', True, japanese_locale_present())


def unmount_stale(work):
    readonly = os.path.join(work, 'ro')
    while os.path.ismount(readonly):
        subprocess.run(['umount', readonly], check=True)


def case_setup(options, failures, wine):
    """One wine prefix for the whole run, and a fresh folder of items."""
    unmount_stale(options.work)
    shutil.rmtree(options.work, ignore_errors=True)
    os.makedirs(options.work)
    code, version = wine.probe('version')
    failures.check('wine prefix answers', 0, code)
    print('      wine reports Windows %s' % version.decode('ascii', 'replace'))


def make_file(*parts):
    path = os.path.join(*parts)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as item:
        item.write(b'velmora test item\n')
    return path


def case_syntax(options, failures, wine):
    screen = syntax_screen(b'velmora.exe')
    item = windows_path(make_file(options.work, 'syntax', 'Some long file name.txt'))
    table = [
        ('no arguments', [], 87),
        ('/?', ['/?'], 1),
        ('-?', ['-?'], 1),
        ('/? after a target', ['/F:' + item, '/?'], 1),
        ('/F: without a value', ['/F:'], 87),
    ]
    for label, arguments, code in table:
        expect_run(failures, wine, label, wine.velmora, arguments, text_mode(screen), code)


def set_app_version(wine, program_name, version):
    key = 'HKCU\\Software\\Wine\\AppDefaults\\' + program_name
    code, out = wine.run('reg', ['add', key, '/v', 'Version', '/d', version, '/f'])
    if code != 0:
        raise RuntimeError('reg add %s: %r' % (key, out))


def case_gate(options, failures, wine):
    # Wine takes the Windows version per program name from AppDefaults, so
    # the gate is tried on copies and the shared prefix stays as it is.
    folder = os.path.join(options.work, 'gate')
    os.makedirs(folder, exist_ok=True)
    item = make_file(folder, 'A long file name to query.txt')
    copies = {}
    for system, version in (('w2k', 'win2k'), ('xp', 'winxp')):
        for tool, source in (('velmora', wine.velmora), ('probe', wine.probe_exe)):
            name = '%s-%s.exe' % (tool, system)
            copies[(tool, system)] = shutil.copy(source, os.path.join(folder, name))
            set_app_version(wine, name, version)

    code, reported = wine.run(copies[('probe', 'w2k')], ['version'])
    failures.check('win2k copy sees Windows 2000', b'5.0.2195', reported)
    code, reported = wine.run(copies[('probe', 'xp')], ['version'])
    failures.check('winxp copy sees Windows XP', b'5.1.2600', reported)

    refused = text_mode(b'\nWindows XP or later required.\n')
    for label, arguments in (('no arguments', []), ('/?', ['/?']), ('-?', ['-?']),
                             ('a query', ['/F:' + windows_path(item)])):
        expect_run(failures, wine, 'win2k, ' + label, copies[('velmora', 'w2k')], arguments,
                   refused, 10)

    expect_run(failures, wine, 'winxp, /?', copies[('velmora', 'xp')], ['/?'],
               text_mode(syntax_screen(b'velmora-xp.exe')), 1)
    target = windows_path(item)
    expect_run(failures, wine, 'winxp, a query', copies[('velmora', 'xp')], ['/F:' + target],
               text_mode(query_output(wine.short_name(target))), 1)


def case_query(options, failures, wine):
    folder = os.path.join(options.work, 'query', 'A folder with a long name')
    item = windows_path(make_file(folder, 'A file with a long name.text'))
    table = [
        ('a file with a long name', item),
        ('a folder with a long name', windows_path(folder)),
        ('a folder given with a trailing backslash', windows_path(folder) + '\\'),
        ('a drive root', 'C:\\'),
    ]
    for label, target in table:
        name = wine.short_name(target)
        print('      wine: the short name of %s is %r' % (target, name))
        if label.startswith('a file'):
            # The point of the case: wine made up a name different from the long one.
            failures.check(label + ': wine made a short name', True,
                           name != b'A file with a long name.text' and b'~' in name)
        expect_run(failures, wine, label, wine.velmora, ['/F:' + target],
                   text_mode(query_output(name)), 1)


def case_refusal(options, failures, wine):
    item_path = make_file(options.work, 'refusal', 'Keep this long name.txt')
    item = windows_path(item_path)
    name = wine.short_name(item)
    question = b"\nAre you sure you want to modify '" + item.encode(wine.encoding) + b"' [y/n]? "
    cancelled = b'\nThe operation was cancelled.\n'
    table = [
        ('answer n', b'n\r\n'),
        ('empty line', b'\r\n'),
        ('blank before y', b' y\r\n'),
        ('end of input', b''),
    ]
    for label, answer in table:
        expect_run(failures, wine, label, wine.velmora, ['/F:' + item, '/SFN:KEEP.TXT'],
                   text_mode(query_output(name) + question + cancelled), 156, stdin=answer)
    failures.check('the item is still there', True, os.path.exists(item_path))


def case_missing(options, failures, wine):
    folder = os.path.join(options.work, 'missing')
    os.makedirs(folder, exist_ok=True)
    table = [
        ('a missing item', windows_path(os.path.join(folder, 'no such item.txt'))),
        ('a missing folder on the way',
         windows_path(os.path.join(folder, 'no such folder', 'item.txt'))),
    ]
    for label, target in table:
        error, short = wine.short_path(target)
        failures.check(label + ': wine reports an error', True, error != 0)
        text = wine.system_text(error)
        print('      wine: error %d, %r' % (error, text))
        expected = b'\nSystem error ' + str(error).encode() + b' has occurred.\n\n' + text
        expect_run(failures, wine, label, wine.velmora, ['/F:' + target, '/SFN:NEW.TXT', '/Y'],
                   text_mode(expected), error)


def case_readonly(options, failures, wine):
    if os.geteuid() != 0:
        raise Missing('a read-only bind mount needs root')
    for tool in ('mount', 'umount'):
        if shutil.which(tool) is None:
            raise Missing('%s not found' % tool)
    source = os.path.join(options.work, 'ro-source')
    mounted = os.path.join(options.work, 'ro')
    make_file(source, 'A read-only item with a long name.txt')
    os.makedirs(mounted, exist_ok=True)
    unmount_stale(options.work)
    subprocess.run(['mount', '--bind', source, mounted], check=True)
    try:
        subprocess.run(['mount', '-o', 'remount,bind,ro', mounted], check=True)
        item = windows_path(os.path.join(mounted, 'A read-only item with a long name.txt'))
        name = wine.short_name(item)
        error = wine.open_error(item)
        failures.check('wine refuses to open the item for writing', True, error != 0)
        if error == 0:
            # Going on would reach SetFileShortNameA, which wine lacks.
            return
        text = wine.system_text(error)
        print('      wine: error %d, %r' % (error, text))
        failed_open = b'\n\nSystem error ' + str(error).encode() + b' has occurred.\n\n' + text
        question = (b"\nAre you sure you want to modify '" + item.encode(wine.encoding) +
                    b"' [y/n]? ")
        table = [
            ('/Y', ['/F:' + item, '/SFN:NEWNAME.TXT', '/Y'], b'', query_output(name)),
            ('answer y', ['/F:' + item, '/SFN:NEWNAME.TXT'], b'y\r\n',
             query_output(name) + question),
            ('answer yes', ['/F:' + item, '/SFN:NEWNAME.TXT'], b'yes\r\n',
             query_output(name) + question),
        ]
        for label, arguments, answer, before in table:
            expect_run(failures, wine, 'read-only item, ' + label, wine.velmora, arguments,
                       text_mode(before + failed_open), error, stdin=answer)
    finally:
        subprocess.run(['umount', mounted], check=True)


def case_dbcs(options, failures, wine):
    """Code page 932: characters whose second byte is 0x5C, a backslash."""
    wine.use_japanese_locale()
    # U+8868 is 0x95 0x5C in code page 932, U+30BD is 0x83 0x5C.
    hyou, so = '\u8868', '\u30bd'
    for character in (hyou, so):
        failures.check('%r ends in 0x5C in cp932' % character, b'\\',
                       character.encode('cp932')[1:])
    folder = os.path.join(options.work, 'dbcs')
    os.makedirs(folder, exist_ok=True)

    # The program name: only the last real backslash separates. A walk that
    # took the trail byte for one would show ".exe" or "velmora.exe" alone.
    table = [
        ('a name ending in 0x5C trail byte before .exe', folder, 'velmora' + hyou + '.exe'),
        ('a name beginning with one', folder, so + hyou + '.exe'),
        ('a folder with one on the way', os.path.join(folder, hyou), 'velmora' + so + '.exe'),
    ]
    for label, where, name in table:
        os.makedirs(where, exist_ok=True)
        program = shutil.copy(wine.velmora, os.path.join(where, name))
        screen = text_mode(syntax_screen(name.encode('cp932')))
        expect_run(failures, wine, label, program, [], screen, 87)
        expect_run(failures, wine, label + ', /?', program, ['/?'], screen, 1)

    # Targets with such characters. Wine gives every name that is not plain
    # ASCII a made-up short name, so here the short name itself holds no
    # double-byte character (the walk over one is proven above on the program
    # name, which goes through the same code); what is proven is that the
    # path reaches the system whole and its answer is shown as given, and
    # that the question repeats the path byte for byte.
    item_unix = make_file(folder, hyou, so + hyou + '.txt')
    table = [
        ('a file named with 0x5C trail bytes', item_unix),
        ('a folder named with one', os.path.join(folder, hyou)),
    ]
    for label, unix_path in table:
        target = windows_path(unix_path)
        name = wine.short_name(target)
        expect_run(failures, wine, label, wine.velmora, ['/F:' + target],
                   text_mode(query_output(name)), 1)
    target = windows_path(item_unix)
    question = (b"\nAre you sure you want to modify '" + target.encode('cp932') +
                b"' [y/n]? ")
    expect_run(failures, wine, 'refusal for a file named with 0x5C trail bytes', wine.velmora,
               ['/F:' + target, '/SFN:NEW.TXT'],
               text_mode(query_output(wine.short_name(target)) + question +
                         b'\nThe operation was cancelled.\n'), 156, stdin=b'n\r\n')


CASES = {
    'setup': case_setup,
    'syntax': case_syntax,
    'gate': case_gate,
    'query': case_query,
    'refusal': case_refusal,
    'missing': case_missing,
    'readonly': case_readonly,
    'dbcs': case_dbcs,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--wine-run')
    parser.add_argument('--prefix')
    parser.add_argument('--velmora')
    parser.add_argument('--probe')
    parser.add_argument('--work')
    parser.add_argument('case', choices=['locale'] + sorted(CASES))
    options = parser.parse_args()
    failures = Failures()
    try:
        if options.case == 'locale':
            case_locale(options, failures)
        else:
            for needed in ('wine_run', 'prefix', 'velmora', 'probe', 'work'):
                if getattr(options, needed) is None:
                    parser.error('--%s is needed' % needed.replace('_', '-'))
            CASES[options.case](options, failures, Wine(options))
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
