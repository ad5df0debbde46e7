#!/usr/bin/env python3
"""Kernel preparation for the test machine (called by run.sh).

  vmkernel.py vmlinux BZIMAGE OUT    the kernel as a plain ELF image
  vmkernel.py modules DIR OUT NAME...  copies the modules NAME need into
                                     OUT (unpacked) and their load order
                                     into OUT/list

The ELF image boots through the PVH entry without decompressing itself,
which under software emulation saves seconds per boot.  The load order is
read from each module's own "depends=" field, so no depmod is needed.
"""
import lzma
import os
import sys


def vmlinux(bz, out):
    data = open(bz, 'rb').read()
    at = data.find(b'\xfd7zXZ\x00')
    if at < 0:
        return 1
    # the kernel is the first xz stream; what follows it is not ours
    dec = lzma.LZMADecompressor(format=lzma.FORMAT_XZ)
    try:
        elf = dec.decompress(data[at:])
    except lzma.LZMAError:
        return 1
    if not elf.startswith(b'\x7fELF'):
        return 1
    with open(out, 'wb') as f:
        f.write(elf)
    return 0


def norm(name):
    return name.replace('-', '_')


def module_bytes(path):
    data = open(path, 'rb').read()
    return lzma.decompress(data) if path.endswith('.xz') else data


def modules(root, out, wanted):
    files = {}
    for d, _, names in os.walk(os.path.join(root, 'kernel')):
        for n in names:
            for ext in ('.ko', '.ko.xz'):
                if n.endswith(ext):
                    files[norm(n[:-len(ext)])] = os.path.join(d, n)

    def depends(mod):
        data = module_bytes(files[mod])
        at = data.find(b'\x00depends=')
        if at < 0:
            return []
        end = data.index(b'\x00', at + 1)
        field = data[at + 9:end].decode()
        return [norm(x) for x in field.split(',') if x]

    order, seen = [], set()

    def visit(mod):
        if mod in seen:
            return
        seen.add(mod)
        if mod not in files:
            raise SystemExit('module %s not found under %s' % (mod, root))
        for dep in depends(mod):
            visit(dep)
        order.append(mod)

    for w in wanted:
        visit(norm(w))
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, 'list'), 'w') as lst:
        for mod in order:
            with open(os.path.join(out, mod + '.ko'), 'wb') as f:
                f.write(module_bytes(files[mod]))
            lst.write(mod + '.ko\n')
    return 0


def main():
    if len(sys.argv) == 4 and sys.argv[1] == 'vmlinux':
        return vmlinux(sys.argv[2], sys.argv[3])
    if len(sys.argv) >= 5 and sys.argv[1] == 'modules':
        return modules(sys.argv[2], sys.argv[3], sys.argv[4:])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == '__main__':
    sys.exit(main())
