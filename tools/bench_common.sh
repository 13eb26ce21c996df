# Shared by the benchmark scripts (sourced): reads --arch and --before into `arches` and
# `before`, keeps every other option in `args`, and names each build's folder and module.
# The caller sets `arches` to its default first.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${VEXEL_BUILD_DIR:-$root/build}"

before=""
args=()
while (($#)); do
    case "$1" in
    --arch)
        [[ "$2" == both ]] && arches=(x86 x64) || arches=("$2")
        shift 2
        ;;
    --before)
        before=$(cd "$2" && pwd)
        shift 2
        ;;
    *)
        args+=("$1")
        shift
        ;;
    esac
done

folder_of() { [[ "$1" == x86 ]] && echo win32 || echo win64; }
module_of() { [[ "$1" == x86 ]] && echo Vexel.8bf || echo Vexel64.8bf; }
compiler_of() { [[ "$1" == x86 ]] && echo i686-w64-mingw32 || echo x86_64-w64-mingw32; }
