# Sourced by the wine scripts: wine_loader FILE prints the wine loader that runs the Windows
# program FILE (wine64 for x86_64, wine for i686) and fails, saying why, when this machine
# cannot run it (32-bit programs need a kernel that runs 32-bit code, or the user-mode
# emulator that scripts/install-deps.sh registers where it does not).
wine_loader() {
    local bits
    bits=$(python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read(4096)
pe = struct.unpack_from("<I", data, 0x3C)[0]
print(64 if struct.unpack_from("<H", data, pe + 24)[0] == 0x20B else 32)
PY
)
    if [ "$bits" = 64 ]; then
        echo /usr/lib/wine/wine64
    elif /usr/lib/wine/wine --version >/dev/null 2>&1; then
        echo /usr/lib/wine/wine
    else
        echo "this machine cannot run 32-bit programs (its kernel runs no 32-bit code and no" \
            "emulator could be registered for them)" >&2
        return 1
    fi
}
