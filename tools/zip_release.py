"""Writes a zip whose bytes depend on its entries' contents only.

Each entry is stored in the order given, with the one date given (taken as
UTC), permissions rw-r--r-- and no owner, access or change time, so that
neither the folder, umask, time zone nor clock of the build can reach the
archive.
"""

import zipfile


def write(zip_path, when, root, entries):
    """Writes |entries| (paths below |root|) dated |when|, a UTC datetime."""
    # Zip dates start in 1980.
    date_time = max((1980, 1, 1, 0, 0, 0), when.timetuple()[:6])
    with zipfile.ZipFile(zip_path, "w") as archive:
        for entry in entries:
            info = zipfile.ZipInfo(entry, date_time)
            info.create_system = 3  # Unix, so that the permissions below count
            info.external_attr = 0o100644 << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(f"{root}/{entry}", "rb") as content:
                archive.writestr(info, content.read(), compresslevel=9)

