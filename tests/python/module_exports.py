"""The symbols a shared object exports: the defined symbols of its dynamic symbol table, which a
host that loads extensions with RTLD_GLOBAL lets every later object bind to."""
import subprocess
import sys


def exported_symbols(path):
    """The names of the defined, exported symbols of the shared object at path, sorted."""
    if sys.platform == "darwin":
        command = ["nm", "-g", "-U", "-j", str(path)]
    else:
        command = ["nm", "-D", "--defined-only", "--format=posix", str(path)]
    listing = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    names = [line.split()[0] for line in listing.splitlines() if line.strip()]
    if sys.platform == "darwin":
        # Mach-O gives every C name a leading underscore.
        names = [name[1:] if name.startswith("_") else name for name in names]
    return sorted(names)
