#!/usr/bin/env bash
# One command for each everyday job on a fresh Debian 12 machine:
#   ./build.sh run        install what is missing, build, start the program
#   ./build.sh test       install what is missing, build, run every test
#   ./build.sh bench      install what is missing, build, run the benchmarks
#   ./build.sh install    build and install for you alone, without root: the programs in
#                         ~/.local/lib/corvale, a menu entry, and the engine at each logon
#   ./build.sh uninstall  remove what install laid; your database is kept
set -euo pipefail
cd "$(dirname "$0")"

what=${1:-run}
build_dir=${BUILD_DIR:-build}

prefix="$HOME/.local"
folder="$prefix/lib/corvale"
data_home="${XDG_DATA_HOME:-$HOME/.local/share}"
config_home="${XDG_CONFIG_HOME:-$HOME/.config}"
menu_entry="applications/corvale.desktop"
icon="icons/hicolor/64x64/apps/corvale.png"
autostart="$config_home/autostart/brisken.desktop"

if [[ "$what" == uninstall ]]; then
    rm -f "$folder"/{brisken,corvale,libcorvale_dialogs.so,libcorvale_gio.so,Help.htm}
    rm -f "$data_home/$menu_entry" "$data_home/$icon" "$prefix/share/$menu_entry" "$prefix/share/$icon"
    rm -f "$autostart"
    if [[ -f "$folder/corvale.mdb" ]]; then
        echo "Corvale is removed. Your database is kept: $folder/corvale.mdb"
    else
        echo "Corvale is removed."
    fi
    exit 0
fi

scripts/install-deps.sh
if [[ ! -f "$build_dir/build.ninja" ]]; then
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build_dir"

case "$what" in
run) exec "$build_dir/bin/corvale" ;;
test) ctest --test-dir "$build_dir" --output-on-failure ;;
bench) "$build_dir/bench/engine_bench" ;;
install)
    cmake --install "$build_dir" --prefix "$prefix" >/dev/null
    # The menu entry and icon go where this desktop looks for them.
    if [[ "$data_home" != "$prefix/share" ]]; then
        for file in "$menu_entry" "$icon"; do
            install -D -m 644 "$prefix/share/$file" "$data_home/$file"
            rm -f "$prefix/share/$file"
        done
    fi
    mkdir -p "$(dirname "$autostart")"
    sed "s|@CORVALE_FOLDER@|$folder|" resources/brisken-autostart.desktop.in >"$autostart"
    # The engine refuses a database that others could change.
    chmod 700 "$folder"
    chmod 600 "$folder/corvale.mdb"
    echo "Corvale is installed in $folder, with a menu entry; the engine runs at each logon"
    echo "($autostart, waiting up to 20 seconds for the network, then running the list of each"
    echo "network the machine arrives on)."
    ;;
*)
    echo "usage: $0 run|test|bench|install|uninstall" >&2
    exit 2
    ;;
esac
