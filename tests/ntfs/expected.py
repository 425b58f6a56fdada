"""Every byte velmora prints on Linux, in one place.

The message texts are the Linux build's own (src/platform/posix_rules.cpp),
written down here on purpose: a changed or missing text must fail a test.
"""

TEXTS = {
    0: "The operation succeeded.\n",
    2: "The file or folder does not exist.\n",
    3: "A folder on the path does not exist.\n",
    5: "Permission to access the item was refused.\n",
    19: "The volume is mounted read-only.\n",
    32: "The file or folder is in use by another process.\n",
    50: "The file system does not support short names.\n",
    87: "The parameter is not valid.\n",
    123: "The file or folder name is not valid on this volume.\n",
    183: "The name is already used by another item in the folder.\n",
    206: "The file name or path is too long.\n",
    1142: "The file has more than one hard link.\n",
    1920: "An entry of the folder is covered by a mount; its names cannot be checked.\n",
    1921: "The name cannot be resolved: too many symbolic links.\n",
}


def query(name):
    return "\nThe current SFN is: '%s'\n" % name


def question(target):
    return "\nAre you sure you want to modify '%s' [y/n]? " % target


CANCELLED = "\nThe operation was cancelled.\n"


def too_long(option):
    """An /F: or /SFN: value over 260 characters, refused before anything
    is looked at (exit code 206)."""
    return "\nThe value of %s is longer than 260 characters.\n" % option


def outcome(number, diagnostic=False):
    """The report after the short name was set, or its setting failed."""
    line = "\n\nProcess is exiting with return code %d." % number if diagnostic else ""
    return line + "\n\n" + TEXTS[number] + "\n"


def short_path_failure(number):
    return "\nSystem error %d has occurred.\n\n" % number + TEXTS[number]


def open_failure(number):
    return "\n\nSystem error %d has occurred.\n\n" % number + TEXTS[number]


def syntax_line(program):
    return "\n Syntax: %s /F:filename [/SFN:shortname] [/Y]\n" % program


def exit_status(number):
    """A Linux exit status keeps only the low 8 bits of the Win32 number."""
    return number & 0xFF
