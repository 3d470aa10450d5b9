"""A home of its own for a desktop's processes, and who runs them: as root sway refuses to start and GNOME
Shell covers the screen with a warning, so those run as nobody."""

import os
import shutil

from .session import NOBODY


class HostUser:
    """Who runs a host, with a home and runtime folder in the session: with unprivileged, nobody when we are root."""

    def __init__(self, session, name, unprivileged=True):
        self.session = session
        self.user = NOBODY if unprivileged and os.getuid() == 0 else None
        self.uids = (self.user[0],) if self.user else ()
        self.dir = session.path(name)
        self.home = os.path.join(self.dir, "home")
        self.runtime = os.path.join(self.dir, "runtime")

    def prepare(self, folders=()):
        """Makes the home, the runtime folder and folders (relative to the home), owned by the user; once."""
        if os.path.isdir(self.dir):
            return
        os.mkdir(self.dir, 0o755)
        for folder in (self.runtime, self.home, *(os.path.join(self.home, sub) for sub in folders)):
            os.makedirs(folder, 0o700)
            if self.user:
                # Each level below the home, so the user can also write beside what it was given.
                path = folder
                while path != self.dir:
                    os.chown(path, *self.user)
                    path = os.path.dirname(path)

    def path(self, *parts):
        """A path inside the home."""
        return os.path.join(self.home, *parts)

    def write(self, relative, text):
        """Writes a file of the home, owned by the user."""
        path = self.path(relative)
        with open(path, "w", encoding="utf-8") as out:
            out.write(text)
        if self.user:
            os.chown(path, *self.user)

    def copy_folder(self, source, relative):
        """Copies the folder source to relative (inside the home), owned by the user."""
        target = self.path(relative)
        shutil.copytree(source, target)
        if self.user:
            for folder, _, files in os.walk(target):
                for path in (folder, *(os.path.join(folder, name) for name in files)):
                    os.chown(path, *self.user)

    def env(self):
        """HOME, XDG_RUNTIME_DIR and the XDG folders inside the home."""
        return {
            "HOME": self.home,
            "XDG_RUNTIME_DIR": self.runtime,
            "XDG_CONFIG_HOME": self.path(".config"),
            "XDG_CACHE_HOME": self.path(".cache"),
            "XDG_DATA_HOME": self.path(".local", "share"),
        }
