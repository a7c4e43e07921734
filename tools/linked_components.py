"""What Kestrine.exe is linked from, traced from its link map.

Every archive and object file that the map shows was linked, and that is not
the project's own, is traced to the Debian package that installed it. The one
table below says which component each file belongs to, under which licence,
and where its notice stands in the package's copyright file; the third-party
notices and the SBOM are both written from that trace. A linked file that the
table does not know is a problem, named, and the release is not made.
"""

import os
import re
import subprocess

# The runtime components that may be linked statically, by file name, with the
# way to find their notice in the owning package's copyright file.
COMPONENTS = [
    {
        "id": "gcc-runtime",
        "name": "GCC runtime libraries (libgcc, libstdc++), GPL-3.0-or-later "
                "with the GCC Runtime Library Exception 3.1",
        "short_name": "GCC runtime",
        # Stated in the copyright file in prose, so given here.
        "licence": "GPL-3.0-or-later WITH GCC-exception-3.1",
        "files": {"libgcc.a", "libgcc_eh.a", "libstdc++.a", "libssp.a",
                  "libssp_nonshared.a", "libatomic.a", "crtbegin.o",
                  "crtend.o", "crtfastmath.o"},
        # The copyright statement with the list of runtime libraries, and the
        # text of the exception itself.
        "sections": [
            (r"^COPYRIGHT STATEMENTS AND LICENSING TERMS$",
             r"^The libbacktrace library is licensed"),
            (r"^GCC RUNTIME LIBRARY EXCEPTION$", r"^libquadmath/"),
        ],
    },
    {
        "id": "mingw-w64-runtime",
        "name": "MinGW-w64 runtime (mingw-w64-crt)",
        "short_name": "MinGW-w64 runtime",
        "files": {"libmingw32.a", "libmingwex.a", "libmsvcrt.a",
                  "libmoldname.a", "crt2.o", "crt1.o"},
        "dep5": ("mingw-w64-crt/", None),
    },
    {
        "id": "winpthreads",
        "name": "winpthreads (mingw-w64-libraries/winpthreads)",
        "short_name": "winpthreads",
        "files": {"libpthread.a", "libwinpthread.a"},
        "dep5": ("mingw-w64-libraries/winpthreads/", "tests_pthread/"),
    },
]


def linked_files(map_path):
    """The archives with a member taken into the link, and the objects loaded."""
    build_dir = os.path.dirname(os.path.abspath(map_path))
    archive = re.compile(r"^(\S+\.a)\(")
    loaded_object = re.compile(r"^LOAD (\S+\.o(bj)?)$")
    found = set()
    with open(map_path, encoding="utf-8", errors="replace") as lines:
        for line in lines:
            match = archive.match(line) or loaded_object.match(line.rstrip())
            if match:
                found.add(os.path.realpath(os.path.join(build_dir, match[1])))
    # The project's own objects and archives are covered by its own licence.
    return sorted(f for f in found if not f.startswith(build_dir + os.sep))


def owning_package(path):
    result = subprocess.run(["dpkg", "-S", path], capture_output=True,
                            text=True)
    if result.returncode != 0:
        return None
    return result.stdout.split(":", 1)[0].strip()


def import_library_dll(path):
    """The DLL an import library stands for, or None for code that is linked."""
    result = subprocess.run(["x86_64-w64-mingw32-dlltool", "--identify", path],
                            capture_output=True, text=True)
    return result.stdout.strip() if result.returncode == 0 else None


def sections(text, bounds):
    parts = []
    for start, end in bounds:
        begin = re.search(start, text, re.M)
        if begin is None:
            return None
        finish = re.compile(end, re.M).search(text, begin.end())
        parts.append(text[begin.start():finish.start() if finish else None])
    return "\n".join(part.rstrip() + "\n" for part in parts)


# Debian's short licence names that SPDX knows under another identifier;
# any other name becomes a LicenseRef carrying the copyright file's text.
SPDX_LICENCES = {
    "ZPL-2.1": "ZPL-2.1",
    "expat": "MIT",
    "ISC": "ISC",
    "BSD-3-clause": "BSD-3-Clause",
    "BSD-2-clause-NetBSD": "BSD-2-Clause",
}


def spdx_licence(debian_name):
    if debian_name in SPDX_LICENCES:
        return SPDX_LICENCES[debian_name]
    return "LicenseRef-" + re.sub(r"[^A-Za-z0-9.-]", "-", debian_name)


def dep5_paragraphs(text, prefix, excluded):
    """The Files paragraphs of a machine-readable copyright file that cover
    |prefix| (and the catch-all one), with the licence texts they name, and
    the text of each licence named, by its short name."""
    paragraphs = [p.strip("\n") for p in re.split(r"\n\s*\n", text)]
    standalone = {}
    chosen = []
    for paragraph in paragraphs:
        fields = re.match(r"^(Files|License|Format): *(.*)", paragraph)
        if fields is None:
            continue
        if fields[1] == "License":
            standalone[fields[2].strip()] = paragraph
            continue
        if fields[1] != "Files":
            continue
        patterns = re.match(r"^Files:((?:.*\n?)(?:[ \t]+.*\n?)*)",
                            paragraph)[1].split()
        if patterns == ["*"] or any(
                p.startswith(prefix) and not (excluded and excluded in p)
                for p in patterns):
            chosen.append(paragraph)
    if not chosen:
        return None, {}
    named = []
    licences = {}
    for paragraph in chosen:
        licence = re.search(r"^License: *(.*)\n?(.*)", paragraph, re.M)
        if licence is None:
            continue
        names = re.split(r"\s+(?:and|or)\s+", licence[1].strip())
        for name in names:
            # A licence given by name alone has its text in a paragraph of
            # its own; otherwise the Files paragraph carries it.
            text_of = standalone.get(name) if not licence[2].startswith(
                " ") else paragraph
            if text_of and text_of not in named and text_of not in chosen:
                named.append(text_of)
            licences.setdefault(name, text_of or paragraph)
    return "\n\n".join(chosen + named) + "\n", licences


def notice(component, copyright_path):
    """The notice text and the licences it names ({short name: text})."""
    with open(copyright_path, encoding="utf-8") as file:
        text = file.read()
    if "sections" in component:
        return sections(text, component["sections"]), {}
    return dep5_paragraphs(text, *component["dep5"])


def dpkg_fields(package):
    """Version, source package and source version of an installed package."""
    fields = subprocess.run(
        ["dpkg-query", "-W", "-f=${Version}\t${source:Package}\t"
         "${source:Version}", package],
        capture_output=True, text=True).stdout.strip().split("\t")
    return dict(zip(("version", "source", "source_version"), fields))


def trace(map_path):
    """The components linked into the program, in the table's order.

    Returns (components, import_libraries, problems). Each component is a dict
    with the table row ("component"), the linked files' paths ("paths"), the
    Debian packages they came from ({name: dpkg_fields}), the copyright file,
    the notice text and the SPDX licence expression with the texts of the
    licences that SPDX does not know ("extracted": {LicenseRef: text}).
    """
    linked = {}  # component id -> {"component", "paths", "packages"}
    import_libraries = []
    problems = []
    for path in linked_files(map_path):
        base = os.path.basename(path)
        component = next((c for c in COMPONENTS if base in c["files"]), None)
        if component is None:
            # Import libraries of Windows system DLLs need no notice.
            dll = import_library_dll(path)
            if dll:
                import_libraries.append(f"{base} ({dll})")
            else:
                problems.append(f"{path}: linked, but no notice is known for it")
            continue
        package = owning_package(path)
        if package is None:
            problems.append(f"{path}: linked, but no Debian package owns it")
            continue
        entry = linked.setdefault(component["id"], {
            "component": component, "paths": [], "packages": {}})
        entry["paths"].append(path)
        entry["packages"].setdefault(package, dpkg_fields(package))
    components = []
    for component in COMPONENTS:
        entry = linked.get(component["id"])
        if entry is None:
            continue
        package = sorted(entry["packages"])[0]
        copyright_path = f"/usr/share/doc/{package}/copyright"
        text, licences = (notice(component, copyright_path)
                          if os.path.exists(copyright_path) else (None, {}))
        if not text:
            names = ", ".join(os.path.basename(p) for p in entry["paths"])
            problems.append(f"{names}: no notice found in {copyright_path}")
            continue
        if "licence" in component:
            expression = component["licence"]
        else:
            expression = " AND ".join(
                dict.fromkeys(spdx_licence(name) for name in licences))
        entry.update(
            copyright=copyright_path, notice=text, licence=expression,
            extracted={spdx_licence(name): body
                       for name, body in licences.items()
                       if spdx_licence(name).startswith("LicenseRef-")})
        components.append(entry)
    return components, sorted(import_libraries), problems


def notices_text(components, import_libraries):
    """THIRD-PARTY-NOTICES.txt, with line feeds."""
    texts = []
    for entry in components:
        files = ", ".join(sorted({os.path.basename(p)
                                  for p in entry["paths"]}))
        packages = ", ".join(f"{name} {fields['version']}"
                             for name, fields in sorted(
                                 entry["packages"].items()))
        texts.append(
            "=" * 78 + "\n" + entry["component"]["name"] + "\n"
            f"Linked: {files}\n"
            f"From the Debian package(s) {packages}, file "
            f"{entry['copyright']}\n" + "=" * 78 + "\n\n" + entry["notice"])
    return ("Third-party notices for Kestrine.exe\n\n"
            "Kestrine.exe is linked statically with the runtime libraries "
            "below.\nTheir copyright and licence notices follow, as the "
            "toolchain that\nbuilt it ships them.\n\n"
            "Import libraries of Windows system DLLs carry no code of their "
            "own\nand need no notice: " + ", ".join(import_libraries)
            + ".\n\n" + "\n".join(texts))
