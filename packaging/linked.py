"""What the linker says it put into the program (the link map the build
writes beside it: Release.cmake), and what each library is: its files, its
SPDX license (as its Debian copyright file gives it) and the lines of its
notice that NOTICES.txt must carry when any of its files, or the members
named, were linked."""
import os
import re
from collections import namedtuple

GCC_RUNTIME = "GPL-3.0-or-later WITH GCC-exception-3.1"
GCC_NOTICE = [("", "GCC Runtime Library Exception")]

# name, linked files (a pattern on the file name), license, notices: (a
# pattern on the member's name, a line NOTICES.txt must carry)
Library = namedtuple("Library", "name files license notices")
LIBRARIES = [
    Library("MinGW-w64 runtime",
            r"crt2\.o|libmingw32\.a|libmingwex\.a|libmoldname\.a|libmsvcrt\.a|"
            r"lib(kernel32|advapi32|user32|shell32)\.a",
            "ZPL-2.1 AND LicenseRef-Lucent-gdtoa AND LicenseRef-David-M-Gay",
            [("", "Copyright (c) 2009-2016 the mingw-w64 project"),
             (r"gdtoa|gmisc|dmisc|smisc|misc|strto|gethex|hexnan|hd_init|sum|mingw_pformat",
              "LUCENT DISCLAIMS ALL WARRANTIES WITH REGARD TO THIS SOFTWARE,"),
             (r"strtodnrp|qnan", "THE AUTHOR DISCLAIMS ALL WARRANTIES WITH REGARD TO THIS SOFTWARE,")]),
    Library("winpthreads", r"libpthread\.a|libwinpthread\.a", "MIT AND BSD-3-Clause",
            [("", "Copyright (c) 2011-2016 mingw-w64 project"),
             ("", "Copyright (c) 2010 Lockless Inc.")]),
    Library("libstdc++", r"libstdc\+\+\.(a|so[.0-9]*)", GCC_RUNTIME,
            GCC_NOTICE + [("", "libstdc++")]),
    Library("libgcc", r"libgcc\.a|libgcc_s\.so[.0-9]*|crt(begin|end)S?\.o", GCC_RUNTIME,
            GCC_NOTICE + [("", "libgcc,")]),
    Library("libgcc_eh", r"libgcc_eh\.a", GCC_RUNTIME, GCC_NOTICE + [("", "libgcc_eh")]),
    Library("libssp", r"libssp\.a|libssp_nonshared\.a", GCC_RUNTIME,
            GCC_NOTICE + [("", "libssp")]),
    Library("GNU C Library",
            r"S?crt1\.o|crt[in]\.o|libc\.so[.0-9]*|libc_nonshared\.a|libm\.so[.0-9]*|"
            r"libmvec\.so[.0-9]*|ld-linux-x86-64\.so[.0-9]*",
            "LGPL-2.1-or-later", []),
]

MEMBER = re.compile(r"^(/\S+\.a)\(([^)]+)\)")
LOADED = re.compile(r"^LOAD (/\S+\.(?:o|so[.0-9]*))$")


def linked_files(link_map):
    """The system's files the link took, as (path, member) pairs, member ""
    for a whole object or shared library; the program's own objects (under
    the build tree, or a link-time optimiser's temporaries) left out."""
    found = set()
    with open(link_map, errors="replace") as lines:
        for line in lines:
            member, loaded = MEMBER.match(line), LOADED.match(line.rstrip("\n"))
            if member:
                found.add((os.path.normpath(member.group(1)), member.group(2)))
            elif loaded and loaded.group(1).startswith(("/usr/", "/lib")):
                found.add((os.path.normpath(loaded.group(1)), ""))
    return sorted(found)


def library_of(path):
    """The library a linked file belongs to, or None."""
    name = os.path.basename(path)
    return next((library for library in LIBRARIES if re.fullmatch(library.files, name)), None)


def required_notices(link_map):
    """(library, line) for every line NOTICES.txt must carry, and the linked
    files no library claims."""
    required, unknown = set(), []
    for path, member in linked_files(link_map):
        library = library_of(path)
        if library is None:
            unknown.append(path)
            continue
        for pattern, line in library.notices:
            if re.search(pattern, member):
                required.add((library.name, line))
    return sorted(required), sorted(set(unknown))
