#!/usr/bin/env python3
"""Static checks of velmora.exe or velmora-tree.exe as a file: what it
imports, how Windows XP's loader sees it, its version record, icon group and
manifest, its size, and (x86) the processor its code needs.

usage: check_pe.py --arch x86|x64 --imports LIST [--objdump OBJDUMP]
                   [--program velmora|velmora-tree] [--max-kib N]
                   [--cpu pentium|pentium-pro] EXE

--objdump names the mingw-w64 objdump for the architecture; without it the
x86 instruction check fails. --program picks the version strings expected
(velmora by default); --max-kib the size limit (64 by default); --cpu the
oldest processor the x86 code may need (the Pentium by default).

Exit codes: 0 passed, 1 failed, 77 skipped (pefile missing outside CI; under
CI=true that fails).
"""
import argparse
import io
import os
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

SKIPPED = 77
DEFAULT_MAX_KIB = 64

MACHINE = {'x86': 0x014C, 'x64': 0x8664}
# Windows XP is 5.1; XP x64 and Server 2003 are 5.2.
MINOR_VERSION = {'x86': 1, 'x64': 2}
CONSOLE = 3
RT_ICON = 3
RT_GROUP_ICON = 14
RT_VERSION = 16
RT_MANIFEST = 24
# The id the loader reads a program's manifest from.
PROCESS_MANIFEST_ID = 1

ASM_V1 = 'urn:schemas-microsoft-com:asm.v1'
ASM_V3 = 'urn:schemas-microsoft-com:asm.v3'

# Instructions a Pentium (P5, the oldest processor Windows XP runs on) does
# not have: the Pentium Pro's conditional moves and compares (cmov, fcmov,
# fcomi, fucomi), rdpmc, the Pentium II's fxsave and sysenter, and MMX and
# SSE, whose registers and control instructions are matched separately.
BEYOND_PENTIUM = re.compile(
    r'(cmov\w*|fcmov\w*|fu?comip?|rdpmc|fxsave\w*|fxrstor\w*|sysenter|sysexit|emms|'
    r'ldmxcsr|stmxcsr|prefetch\w*|[lsm]fence|clflush|movnti)')
# The Pentium Pro (P6) adds the conditional moves and compares and rdpmc;
# the Pentium II's fxsave and sysenter, MMX and SSE stay beyond it.
BEYOND_PENTIUM_PRO = re.compile(
    r'(fxsave\w*|fxrstor\w*|sysenter|sysexit|emms|'
    r'ldmxcsr|stmxcsr|prefetch\w*|[lsm]fence|clflush|movnti)')
BEYOND = {'pentium': BEYOND_PENTIUM, 'pentium-pro': BEYOND_PENTIUM_PRO}
MMX_OR_SSE_REGISTER = re.compile(r'%[xy]?mm\d')

COMMON_STRINGS = {
    'FileVersion': '1.00',
    'ProductVersion': '1.00',
    'ProductName': 'Velmora',
}
EXPECTED_STRINGS = {
    'velmora': dict(COMMON_STRINGS, **{
        'Comments': 'Sets the 8.3 SFN (Short File Name) for the specified file or folder. '
                    '(Requires Windows XP or later)',
        'OriginalFilename': 'velmora.exe',
    }),
    'velmora-tree': dict(COMMON_STRINGS, **{
        'Comments': 'Saves the 8.3 short names of a folder tree and puts them back. '
                    '(Requires Windows XP or later)',
        'OriginalFilename': 'velmora-tree.exe',
    }),
}
# Present and not empty; the wording is the project's own.
REQUIRED_STRINGS = ('FileDescription', 'LegalCopyright', 'InternalName')
# width, height, bits per pixel
EXPECTED_ICONS = {(32, 32, 8), (48, 48, 32)}


class Checks:
    def __init__(self):
        self.failed = 0

    def check(self, label, expected, actual):
        if expected == actual:
            print('ok    %s' % label)
        else:
            self.failed += 1
            print('FAIL  %s: expected %r, got %r' % (label, expected, actual))


def read_allowed(path, arch):
    allowed = {}
    dll = None
    with open(path, encoding='ascii') as listing:
        for line in listing:
            line = line.split('#', 1)[0].strip()
            if not line:
                continue
            if line.startswith('['):
                dll = line.strip('[]').lower()
                allowed.setdefault(dll, set())
                continue
            fields = line.split()
            if len(fields) == 2 and fields[1] != arch:
                continue
            allowed[dll].add(fields[0])
    return allowed


def check_imports(pe, allowed, checks):
    imported = {}
    for entry in getattr(pe, 'DIRECTORY_ENTRY_IMPORT', []):
        names = imported.setdefault(entry.dll.decode('ascii').lower(), [])
        for symbol in entry.imports:
            names.append(symbol.name.decode('ascii') if symbol.name else
                         'ordinal %d' % symbol.ordinal)
    checks.check('imported DLLs', ['advapi32.dll', 'kernel32.dll', 'msvcrt.dll'],
                 sorted(imported))
    for dll, names in sorted(imported.items()):
        missing = sorted(set(names) - allowed.get(dll, set()))
        checks.check('%s: every function is on the Windows XP list' % dll, [], missing)
    checks.check('no delay-loaded DLLs', False, hasattr(pe, 'DIRECTORY_ENTRY_DELAY_IMPORT'))


def check_headers(pe, arch, checks):
    checks.check('machine', MACHINE[arch], pe.FILE_HEADER.Machine)
    header = pe.OPTIONAL_HEADER
    checks.check('subsystem (console)', CONSOLE, header.Subsystem)
    minor = MINOR_VERSION[arch]
    checks.check('subsystem version', (5, minor),
                 (header.MajorSubsystemVersion, header.MinorSubsystemVersion))
    checks.check('operating system version', (5, minor),
                 (header.MajorOperatingSystemVersion, header.MinorOperatingSystemVersion))
    checks.check('stripped (no symbol table)', (0, 0),
                 (pe.FILE_HEADER.PointerToSymbolTable, pe.FILE_HEADER.NumberOfSymbols))
    debug_sections = [s.Name.rstrip(b'\0').decode('ascii', 'replace') for s in pe.sections
                      if s.Name.startswith(b'.debug') or s.Name.startswith(b'/')]
    checks.check('no debug sections', [], debug_sections)


def check_version_record(pe, program, checks):
    fixed = pe.VS_FIXEDFILEINFO[0] if hasattr(pe, 'VS_FIXEDFILEINFO') else None
    checks.check('version record present', True, fixed is not None)
    if fixed is None:
        return
    checks.check('file version 1.0.0.0', (0x00010000, 0), (fixed.FileVersionMS,
                                                         fixed.FileVersionLS))
    checks.check('product version 1.0.0.0', (0x00010000, 0), (fixed.ProductVersionMS,
                                                            fixed.ProductVersionLS))
    strings = {}
    for info in getattr(pe, 'FileInfo', [[]])[0]:
        for table in getattr(info, 'StringTable', []):
            for key, value in table.entries.items():
                strings[key.decode('utf-8')] = value.decode('utf-8')
    for key, value in EXPECTED_STRINGS[program].items():
        checks.check('version string %s' % key, value, strings.get(key))
    for key in REQUIRED_STRINGS:
        checks.check('version string %s is given' % key, True, bool(strings.get(key)))


def resources_of_type(pe, type_id):
    found = {}
    if not hasattr(pe, 'DIRECTORY_ENTRY_RESOURCE'):
        return found
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id != type_id:
            continue
        for entry in kind.directory.entries:
            for language in entry.directory.entries:
                data = language.data.struct
                found[entry.id if entry.id is not None else str(entry.name)] = \
                    pe.get_data(data.OffsetToData, data.Size)
    return found


def check_icons(pe, checks):
    groups = resources_of_type(pe, RT_GROUP_ICON)
    icons = resources_of_type(pe, RT_ICON)
    checks.check('one icon group', 1, len(groups))
    if len(groups) != 1:
        return
    group = next(iter(groups.values()))
    _, kind, count = struct.unpack_from('<HHH', group, 0)
    checks.check('icon group type', 1, kind)
    described = set()
    drawn = set()
    for index in range(count):
        width, height, _, _, _, bits, size, icon_id = struct.unpack_from(
            '<BBBBHHIH', group, 6 + 14 * index)
        described.add((width or 256, height or 256, bits))
        image = icons.get(icon_id)
        if image is None:
            checks.check('icon %d present' % icon_id, True, False)
            continue
        checks.check('icon %d size matches its group entry' % icon_id, size, len(image))
        # The image itself: a BITMAPINFOHEADER whose height counts the mask too.
        header_size, bmp_width, bmp_height, _, bmp_bits = struct.unpack_from('<IiiHH', image, 0)
        checks.check('icon %d is a bitmap' % icon_id, 40, header_size)
        drawn.add((bmp_width, bmp_height // 2, bmp_bits))
    checks.check('icon group entries', EXPECTED_ICONS, described)
    checks.check('icon images', EXPECTED_ICONS, drawn)


def namespace_declarations(data):
    """The manifest's elements in document order, each as (tag, attributes,
    [namespaces it declares])."""
    elements = []
    pending = []
    for event, item in ElementTree.iterparse(io.BytesIO(data),
                                             events=('start-ns', 'start')):
        if event == 'start-ns':
            pending.append(item[1])
        else:
            elements.append((item.tag, dict(item.attrib), pending))
            pending = []
    return elements


def check_manifest(pe, checks):
    manifests = resources_of_type(pe, RT_MANIFEST)
    checks.check('one manifest, id 1', [PROCESS_MANIFEST_ID], sorted(manifests, key=str))
    data = manifests.get(PROCESS_MANIFEST_ID)
    if data is None:
        return
    try:
        elements = namespace_declarations(data)
    except ElementTree.ParseError as error:
        checks.check('manifest is well-formed XML', 'well-formed', str(error))
        return
    root_tag, root_attributes, _ = elements[0]
    checks.check('manifest root', '{%s}assembly' % ASM_V1, root_tag)
    checks.check('manifest version', '1.0', root_attributes.get('manifestVersion'))

    # XP SP2 fails on an element that declares a namespace it already has
    # in scope; one declaration of each in the whole manifest rules that out.
    declared = [uri for _, _, uris in elements for uri in uris]
    checks.check('each namespace declared once', [],
                 sorted({uri for uri in declared if declared.count(uri) > 1}))
    # XP without service packs refuses trustInfo in the asm.v1 namespace.
    trust = [(tag, uris) for tag, _, uris in elements if tag.endswith('}trustInfo')]
    checks.check('one trustInfo, in the asm.v3 namespace',
                 ['{%s}trustInfo' % ASM_V3], [tag for tag, _ in trust])
    checks.check('asm.v3 declared on trustInfo itself', [[ASM_V3]],
                 [[uri for uri in uris if uri == ASM_V3] for _, uris in trust])

    root = ElementTree.fromstring(data)
    path = '{0}trustInfo/{0}security/{0}requestedPrivileges/{0}requestedExecutionLevel'.format(
        '{%s}' % ASM_V3)
    levels = [(level.get('level'), level.get('uiAccess')) for level in root.findall(path)]
    checks.check('requestedExecutionLevel asInvoker, uiAccess false',
                 [('asInvoker', 'false')], levels)


def check_instructions(exe, objdump, cpu, checks):
    """x86 only: no instruction the processor `cpu` lacks anywhere in the
    code, ours or the libraries'."""
    if not objdump:
        checks.check('objdump given for the instruction check', True, False)
        return
    listing = subprocess.run([objdump, '-d', '--no-show-raw-insn', exe], check=True,
                             stdout=subprocess.PIPE, universal_newlines=True).stdout
    found = []
    count = 0
    for line in listing.splitlines():
        fields = line.split('\t')
        if len(fields) < 2 or not fields[0].strip().endswith(':'):
            continue
        count += 1
        instruction = fields[1].split()
        if not instruction:
            continue
        if BEYOND[cpu].fullmatch(instruction[0]) or MMX_OR_SSE_REGISTER.search(fields[1]):
            found.append(line.strip())
    print('      %d instructions disassembled' % count)
    checks.check('code disassembled', True, count > 100)
    if cpu == 'pentium':
        label = 'no instruction beyond the Pentium (cmov, fcomi, MMX, SSE ...)'
    else:
        label = 'no instruction beyond the Pentium Pro (MMX, SSE, sysenter ...)'
    checks.check(label, [], found[:20])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--arch', choices=sorted(MACHINE), required=True)
    parser.add_argument('--imports', required=True)
    parser.add_argument('--objdump')
    parser.add_argument('--program', choices=sorted(EXPECTED_STRINGS), default='velmora')
    parser.add_argument('--max-kib', type=int, default=DEFAULT_MAX_KIB)
    parser.add_argument('--cpu', choices=sorted(BEYOND), default='pentium')
    parser.add_argument('exe')
    options = parser.parse_args()
    try:
        import pefile
    except ImportError:
        print('missing: the pefile module (Debian package python3-pefile) for %s'
              % sys.executable)
        if os.environ.get('CI') == 'true':
            print('FAIL  a tool the tests need is missing, and CI=true')
            return 1
        return SKIPPED

    checks = Checks()
    size = os.path.getsize(options.exe)
    print('      %s: %d bytes' % (options.exe, size))
    checks.check('at most %d KiB' % options.max_kib, True, size <= options.max_kib * 1024)
    pe = pefile.PE(options.exe)
    check_headers(pe, options.arch, checks)
    check_imports(pe, read_allowed(options.imports, options.arch), checks)
    check_version_record(pe, options.program, checks)
    check_icons(pe, checks)
    check_manifest(pe, checks)
    if options.arch == 'x86':
        check_instructions(options.exe, options.objdump, options.cpu, checks)
    if checks.failed:
        print('%d check(s) failed' % checks.failed)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
