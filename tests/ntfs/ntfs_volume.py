"""A small NTFS volume for tests: an image made with mkntfs, mounted with
ntfs-3g, and a way to run velmora on it and to look at it without velmora.

Used by the integration tests here and meant to be reused by any other test
that needs a real NTFS file system (import it from this folder).
"""

import errno
import hashlib
import os
import shutil
import stat
import subprocess
import tempfile
import time

DOS_NAME = "system.ntfs_dos_name"
HARD_LINKED = "<several hard links: unreadable>"

# ctest treats this exit code as "skipped" (SKIP_RETURN_CODE).
SKIP_EXIT_CODE = 77

REQUIRED_TOOLS = ("mkntfs", "ntfs-3g", "ntfsfix", "umount")


def missing_prerequisites():
    """What this machine lacks to mount an NTFS image, as a list of words."""
    # mkntfs and ntfsfix live in /usr/sbin, which a user's PATH may lack.
    path = os.environ.get("PATH", "")
    for folder in ("/usr/sbin", "/sbin"):
        if folder not in path.split(os.pathsep):
            path += os.pathsep + folder
    os.environ["PATH"] = path
    missing = [tool for tool in REQUIRED_TOOLS if shutil.which(tool) is None]
    if not os.path.exists("/dev/fuse"):
        missing.append("/dev/fuse")
    if os.geteuid() != 0:
        missing.append("root (mounting with ntfs-3g)")
    return missing


def check_prerequisites_or_exit():
    """Skips the whole run when FUSE or ntfs-3g is missing, except under CI,
    where a missing tool must fail the run rather than hide it."""
    missing = missing_prerequisites()
    if not missing:
        return
    message = "NTFS tests need: " + ", ".join(missing)
    if os.environ.get("CI", "").lower() == "true":
        print("FAIL: " + message + " (CI=true: a missing tool is a failure)")
        raise SystemExit(1)
    print("SKIP: " + message)
    raise SystemExit(SKIP_EXIT_CODE)


def read_dos_name(path):
    """The entry's own DOS name (a link's, not its target's), or None."""
    try:
        value = os.getxattr(path, DOS_NAME, follow_symlinks=False)
    except OSError as error:
        if error.errno in (errno.ENODATA, errno.EPERM, errno.ENOTSUP):
            return None
        # ntfs-3g will not read the short name of a file with several hard
        # links; a snapshot still records that it could not.
        if error.errno == errno.EMLINK:
            return HARD_LINKED
        raise
    return value.rstrip(b"\0").decode("ascii")


class Volume:
    """An NTFS image in a temporary folder, mounted at self.root.

    Always call close() (the tests do it in tearDown / addCleanup): it
    unmounts even after a failure and removes the folder."""

    def __init__(self, size_mib=8):
        self.folder = tempfile.mkdtemp(prefix="velmora-ntfs-")
        self.image = os.path.join(self.folder, "volume.img")
        self.root = os.path.join(self.folder, "mnt")
        self.log = os.path.join(self.folder, "ntfs-3g.log")
        self.daemon = None
        self.read_only = False
        os.mkdir(self.root)
        with open(self.image, "wb") as image:
            image.truncate(size_mib * 1024 * 1024)
        # -f: quick format (no zeroing), -F: a file, not a block device.
        subprocess.run(["mkntfs", "-q", "-F", "-f", "-L", "velmora", self.image],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def mount(self, read_only=False):
        # no_detach keeps ntfs-3g in the foreground, so that after unmounting
        # we can wait until it has written everything and let go of the image.
        options = "no_detach" + (",ro" if read_only else "")
        self.read_only = read_only
        with open(self.log, "ab") as log:
            self.daemon = subprocess.Popen(["ntfs-3g", "-o", options, self.image, self.root],
                                           stdout=log, stderr=log)
        deadline = time.monotonic() + 10
        while not os.path.ismount(self.root):
            if self.daemon.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("ntfs-3g did not mount %s; see %s" % (self.image, self.log))
            time.sleep(0.005)

    def unmount(self):
        if self.daemon is None:
            return
        if os.path.ismount(self.root):
            subprocess.run(["umount", self.root], check=True)
        try:
            self.daemon.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.daemon.kill()
            self.daemon.wait()
        self.daemon = None

    def check(self):
        """Runs ntfsfix without writing; returns (exit code, its output)."""
        result = subprocess.run(["ntfsfix", "--no-action", self.image],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        return result.returncode, result.stdout.decode("utf-8", "replace")

    def close(self):
        try:
            self.unmount()
        finally:
            if os.path.ismount(self.root):
                subprocess.run(["umount", "-l", self.root])
            shutil.rmtree(self.folder, ignore_errors=True)

    def path(self, relative=""):
        return os.path.join(self.root, relative) if relative else self.root

    def snapshot(self):
        """Every entry below the root: kind, content digest or link target,
        and DOS name; read without velmora."""
        entries = {}
        for folder, dirs, files in os.walk(self.root):
            for name in dirs + files:
                full = os.path.join(folder, name)
                relative = os.path.relpath(full, self.root)
                if os.path.islink(full):
                    what = ("link", os.readlink(full))
                elif os.path.isdir(full):
                    what = ("folder", None)
                elif not stat.S_ISREG(os.lstat(full).st_mode):
                    # A FIFO or device: opening it to read could block.
                    what = ("special", stat.S_IFMT(os.lstat(full).st_mode))
                else:
                    with open(full, "rb") as content:
                        what = ("file", hashlib.sha256(content.read()).hexdigest())
                entries[relative] = (what, read_dos_name(full))
        return entries


def create_items(volume, items):
    """Makes each (relative path, content, DOS name or None): content None is
    a folder, "fifo" a FIFO, ("link", target) a symbolic link, bytes a file."""
    for relative, content, dos_name in items:
        path = volume.path(relative)
        if content is None:
            os.mkdir(path)
        elif content == "fifo":
            os.mkfifo(path)
        elif isinstance(content, tuple):
            os.symlink(content[1], path)
        else:
            with open(path, "wb") as item:
                item.write(content)
        if dos_name is not None:
            os.setxattr(path, DOS_NAME, dos_name.encode("ascii"), follow_symlinks=False)


def open_populated(populate, read_only=False):
    """A new volume, mounted and filled by populate(volume); closed again if
    that fails."""
    volume = Volume()
    try:
        volume.mount()
        populate(volume)
        if read_only:
            volume.unmount()
            volume.mount(read_only=True)
    except BaseException:
        volume.close()
        raise
    return volume


def with_changes(before, changes):
    """The snapshot `before` with the DOS names in `changes` (relative path
    -> name) put in."""
    wanted = dict(before)
    for relative, dos_name in changes.items():
        wanted[relative] = (wanted[relative][0], dos_name)
    return wanted


class VolumeChecks:
    """For unittest cases: the check that follows every run."""

    def check_volume(self, volume, wanted):
        """Without velmora: the volume holds `wanted`, and still does after
        it is unmounted, checked with ntfsfix and mounted again."""
        self.assertEqual(volume.snapshot(), wanted)
        volume.unmount()
        fsck, report = volume.check()
        self.assertEqual(fsck, 0, report)
        volume.mount(read_only=volume.read_only)
        self.assertEqual(volume.snapshot(), wanted)


def run_velmora(executable, args, stdin=b"", cwd=None, argv0=None):
    """Runs velmora as a user would; returns (exit code, standard output,
    standard error). stdin None reads /dev/null; bytes are fed, then end."""
    if stdin is None:
        stdin_arg, data = subprocess.DEVNULL, None
    else:
        stdin_arg, data = subprocess.PIPE, stdin
    result = subprocess.run([argv0 or executable] + list(args), executable=executable,
                            input=data, stdin=stdin_arg if data is None else None,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=cwd, timeout=30)
    return result.returncode, result.stdout, result.stderr
