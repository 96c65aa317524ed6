#!/usr/bin/env bash
# One command for each everyday job on a fresh Debian 12 machine:
#   ./build.sh run        install what is missing, build, start the program
#   ./build.sh test       install what is missing, build, run every test
#   ./build.sh bench      install what is missing, build, run the benchmarks
#   ./build.sh install    build and install for you alone, without root: the programs in
#                         ~/.local/lib/corvale, on your PATH in ~/.local/bin, a menu entry,
#                         man pages, and the engine at each logon
#   ./build.sh autostart  lay the logon entry again, after you deleted it
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
icons=("icons/hicolor/64x64/apps/corvale.png" "icons/hicolor/scalable/apps/corvale.svg")
autostart="$config_home/autostart/brisken.desktop"
# Install lays the logon entry once; after that it is the user's to edit or delete.
autostart_laid="$folder/.autostart-laid"
bin_dir="$prefix/bin"

lay_autostart() {
    mkdir -p "$(dirname "$autostart")"
    sed "s|@CORVALE_FOLDER@|$folder|" resources/brisken-autostart.desktop.in >"$autostart"
    touch "$autostart_laid"
}

# A link of ours on the PATH; a file of the user's own by that name is left alone.
is_our_link() { [[ -L "$1" && "$(readlink "$1")" == "$folder/"* ]]; }

if [[ "$what" == autostart ]]; then
    [[ -x "$folder/brisken" ]] || { echo "Corvale is not installed: ./build.sh install" >&2; exit 1; }
    lay_autostart
    echo "The engine runs at each logon again ($autostart)."
    exit 0
fi

if [[ "$what" == uninstall ]]; then
    rm -f "$folder"/{brisken,corvale,libcorvale_dialogs.so,libcorvale_gio.so,Help.htm} "$autostart_laid"
    rm -f "$data_home/$menu_entry" "$prefix/share/$menu_entry"
    for icon in "${icons[@]}"; do
        rm -f "$data_home/$icon" "$prefix/share/$icon"
    done
    rm -f "$prefix/share/man/man1/brisken.1" "$prefix/share/man/man1/corvale.1"
    for name in brisken corvale; do
        if is_our_link "$bin_dir/$name"; then
            rm -f "$bin_dir/$name"
        fi
    done
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
    # The menu entry and icons go where this desktop looks for them.
    if [[ "$data_home" != "$prefix/share" ]]; then
        for file in "$menu_entry" "${icons[@]}"; do
            install -D -m 644 "$prefix/share/$file" "$data_home/$file"
            rm -f "$prefix/share/$file"
        done
    fi
    # On the PATH, where ~/.profile puts ~/.local/bin; man finds the pages
    # in ~/.local/share/man through it.
    mkdir -p "$bin_dir"
    for name in brisken corvale; do
        if [[ -e "$bin_dir/$name" || -L "$bin_dir/$name" ]] && ! is_our_link "$bin_dir/$name"; then
            echo "$bin_dir/$name is a file of yours: it is left as it is, and $name is not linked there."
        else
            ln -sfn "$folder/$name" "$bin_dir/$name"
        fi
    done
    # The engine refuses a database that others could change.
    chmod 700 "$folder"
    chmod 600 "$folder/corvale.mdb"
    echo "Corvale is installed in $folder, with a menu entry, and brisken and corvale in $bin_dir."
    if [[ -f "$autostart" ]]; then
        # The user's edits stay; only the program's place is brought up to date.
        sed -i -E "s#^Exec=(\"[^\"]*/brisken\"|[^ \"]*/brisken)#Exec=\"$folder/brisken\"#" "$autostart"
        touch "$autostart_laid"
        echo "The engine runs at each logon as your entry says ($autostart, kept as you left it)."
    elif [[ -f "$autostart_laid" ]]; then
        echo "The engine does not run at logon: its entry $autostart was deleted, and stays so."
        echo "To have it run at each logon again: ./build.sh autostart"
    else
        lay_autostart
        echo "The engine runs at each logon ($autostart, waiting up to 20 seconds for the network,"
        echo "then running the list of each network the machine arrives on)."
    fi
    case ":$PATH:" in
    *":$bin_dir:"*) ;;
    *) echo "$bin_dir is not on your PATH yet; it is from your next login (~/.profile adds it)." ;;
    esac
    ;;
*)
    echo "usage: $0 run|test|bench|install|autostart|uninstall" >&2
    exit 2
    ;;
esac
