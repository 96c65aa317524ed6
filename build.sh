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
# The menu entry's icons, and what software centres show of it.
menu_files=("icons/hicolor/64x64/apps/corvale.png" "icons/hicolor/scalable/apps/corvale.svg"
    "metainfo/example.corvale.Corvale.metainfo.xml")
pages=("man/man1/brisken.1" "man/man1/corvale.1")
autostart="$config_home/autostart/brisken.desktop"
# The user target of each place, which the watcher starts and stops.
place_target="$config_home/systemd/user/corvale-place@.target"
# Install lays the logon entry once; after that it is the user's to edit or delete.
autostart_laid="$folder/.autostart-laid"
bin_dir="$prefix/bin"

lay_autostart() {
    mkdir -p "$(dirname "$autostart")"
    sed "s|@CORVALE_FOLDER@|$folder|" resources/brisken-autostart.desktop.in >"$autostart"
    touch "$autostart_laid"
}

# A link of ours on the PATH: one to the program folder's program of that
# name, word for word; a file or another link of the user's is left alone.
is_our_link() { [[ -L "$1" && "$(readlink "$1")" == "$folder/$(basename "$1")" ]]; }

# Whether the file at $1 is one that install laid (or nothing is there), so
# that install may lay it anew and uninstall remove it; $2 is the file as
# this build lays it. An entry of ours carries X-Corvale-Entry or runs a
# program of the program folder; a page of ours names Corvale as its
# source; anything else of that name is the user's own.
is_ours() {
    [[ ! -e "$1" && ! -L "$1" ]] && return 0
    [[ -L "$1" || ! -f "$1" ]] && return 1
    cmp -s "$1" "$2" && return 0
    case "$1" in
    *.desktop)
        # It runs the program folder's program, or, marked as ours, a program
        # of ours by name from an earlier place; the mark alone is no proof.
        local program name
        program=$(sed -n -E 's/^Exec="?([^" ]*)"?( .*)?$/\1/p' "$1" | head -n 1)
        name=$(basename "$2" | sed -E 's/(-autostart)?\.desktop(\.in)?$//')
        [[ "$program" == "$folder/$name" ]] ||
            { grep -qx 'X-Corvale-Entry=1' "$1" && [[ "$(basename "$program")" == "$name" ]]; }
        ;;
    *.1) grep -m 1 '^\.TH ' "$1" | grep -Eq '^\.TH [A-Z]+ 1 .* "Corvale [^"]*" ' ;;
    *.target) head -n 1 "$1" | grep -q "^# Laid by Corvale's install" ;;
    *) return 1 ;;
    esac
}
# systemd's user instance, where one runs, learns of the target laid or
# removed.
reload_user_units() {
    if command -v systemctl >/dev/null && systemctl --user show-environment >/dev/null 2>&1; then
        systemctl --user daemon-reload >/dev/null 2>&1 || true
    fi
}
left_alone() { echo "$1 is a file of yours, not Corvale's: it is left as it is."; }

# This user's processes that run the program folder's engine as a watcher
# (also one whose file was replaced or removed since it started). A
# watcher's own bus side, forked from it, ends with it and is not named.
running_watchers() {
    local dir exe found=()
    for dir in /proc/[0-9]*; do
        [[ -O "$dir" ]] || continue
        exe=$(readlink "$dir/exe" 2>/dev/null) || continue
        [[ "$exe" == "$folder/brisken" || "$exe" == "$folder/brisken (deleted)" ]] || continue
        tr '\0' '\n' <"$dir/cmdline" 2>/dev/null | grep -qx -- --watch && found+=("${dir#/proc/}")
    done
    local pid parent
    for pid in "${found[@]}"; do
        parent=$(sed -n 's/^PPid:[[:space:]]*//p' "/proc/$pid/status" 2>/dev/null)
        [[ " ${found[*]} " == *" $parent "* ]] || echo "$pid"
    done
    return 0
}

# Asked before anything changes, so that install and uninstall do all or
# nothing: a program folder or database that is a link would have its
# target changed, and a folder where a file goes, or a folder that cannot
# be written, would stop the work half-way.
check_places() {
    local problems=() path dir
    for path in "$folder" "$folder/corvale.mdb"; do
        [[ -L "$path" ]] && problems+=("$path is a link (to $(readlink "$path")); Corvale is not installed through links: put a folder or file of its own there.")
    done
    for path in "$autostart" "$place_target" "$data_home/$menu_entry" "${menu_files[@]/#/$data_home/}" "${pages[@]/#/$prefix/share/}" \
        "$bin_dir/brisken" "$bin_dir/corvale"; do
        [[ -d "$path" && ! -L "$path" ]] && problems+=("$path is a folder, where a file goes.")
        dir=$(dirname "$path")
        while [[ ! -e "$dir" ]]; do dir=$(dirname "$dir"); done
        [[ -w "$dir" ]] || problems+=("$dir cannot be written.")
    done
    if [[ ${#problems[@]} -gt 0 ]]; then
        echo "Nothing was changed:" >&2
        printf '%s\n' "${problems[@]}" | sort -u >&2
        exit 1
    fi
}

# Whether the logon entry is as install lays it, but for the program's place.
autostart_as_laid() {
    sed -E "s#^Exec=(\"[^\"]*/brisken\"|[^ \"]*/brisken)#Exec=\"$folder/brisken\"#" "$autostart" |
        cmp -s - <(sed "s|@CORVALE_FOLDER@|$folder|" resources/brisken-autostart.desktop.in)
}

if [[ "$what" == autostart ]]; then
    [[ -x "$folder/brisken" ]] || { echo "Corvale is not installed: ./build.sh install" >&2; exit 1; }
    if ! is_ours "$autostart" resources/brisken-autostart.desktop.in; then
        left_alone "$autostart" >&2
        echo "Move it away first to have the engine run at each logon." >&2
        exit 1
    fi
    lay_autostart
    echo "The engine runs at each logon again ($autostart)."
    exit 0
fi

if [[ "$what" == uninstall ]]; then
    check_places
    # A watcher left running would go on starting lists from a program
    # that is gone.
    watchers=$(running_watchers | tr '\n' ' ')
    if [[ -n "$watchers" ]]; then
        kill -TERM $watchers 2>/dev/null || true
        echo "The engine's watcher (process ${watchers% }) is ended."
    fi
    rm -f "$folder"/{brisken,corvale,libcorvale_dialogs.so,libcorvale_gio.so,Help.htm} "$autostart_laid"
    remove_ours() {
        if is_ours "$1" "$2"; then
            rm -f "$1"
        else
            left_alone "$1"
        fi
    }
    for place in "$data_home" "$prefix/share"; do
        remove_ours "$place/$menu_entry" resources/corvale.desktop.in
        for file in "${menu_files[@]}"; do
            remove_ours "$place/$file" "resources/$(basename "$file")"
        done
    done
    for page in "${pages[@]}"; do
        remove_ours "$prefix/share/$page" "resources/$(basename "$page")"
    done
    remove_ours "$place_target" "resources/corvale-place@.target"
    reload_user_units
    for name in brisken corvale; do
        if is_our_link "$bin_dir/$name"; then
            rm -f "$bin_dir/$name"
        fi
    done
    if [[ -f "$autostart" ]] && is_ours "$autostart" resources/brisken-autostart.desktop.in &&
        ! autostart_as_laid; then
        echo "Your edited logon entry $autostart is kept; the engine it starts is gone, so delete it if you like."
    else
        remove_ours "$autostart" resources/brisken-autostart.desktop.in
    fi
    if [[ -f "$folder/corvale.mdb" ]]; then
        echo "Corvale is removed. Your database is kept: $folder/corvale.mdb"
    else
        echo "Corvale is removed."
    fi
    exit 0
fi

scripts/install-deps.sh
if [[ ! -f "$build_dir/build.ninja" ]]; then
    # CORVALE_WERROR=ON and CORVALE_SANITIZE=ON in the environment reach
    # the build's options of the same names (at its first configuration).
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCORVALE_WERROR="${CORVALE_WERROR:-OFF}" -DCORVALE_SANITIZE="${CORVALE_SANITIZE:-OFF}" >/dev/null
fi
# Ninja's "no work to do" says nothing a person needs.
cmake --build "$build_dir" | { grep -vx 'ninja: no work to do.' || true; }

case "$what" in
run)
    echo "Corvale opens the build tree's database, $build_dir/bin/corvale.mdb (an installed Corvale keeps its own in $folder)."
    exec "$build_dir/bin/corvale"
    ;;
test) ctest --test-dir "$build_dir" --output-on-failure ;;
bench) "$build_dir/bench/engine_bench" && "$build_dir/bench/startup_lists_bench" && "$build_dir/bench/form_edits_bench" ;;
install)
    check_places
    watchers=$(running_watchers | tr '\n' ' ')
    # Laid in a folder of its own first: a menu entry, icon or page of the
    # user's own by one of our names is not ours to overwrite.
    stage=$(mktemp -d)
    trap 'rm -rf "$stage"' EXIT
    DESTDIR="$stage" cmake --install "$build_dir" --prefix "$prefix" >/dev/null
    mkdir -p "$folder"
    # A newcomer's first lists, made with ./build.sh run, come along once.
    built="$build_dir/bin/corvale.mdb"
    if [[ ! -e "$folder/corvale.mdb" && -f "$built" ]] &&
        [[ $(sqlite3 -readonly "$built" "select (select count(*) from IPs) + (select count(*) from DisConnectedList)" 2>/dev/null || echo 0) -gt 0 ]]; then
        cp "$built" "$folder/corvale.mdb"
        echo "Your lists in $built are carried over to $folder/corvale.mdb; from now on the two are apart."
    fi
    for file in "$stage$folder"/*; do
        name=$(basename "$file")
        if [[ "$name" != corvale.mdb ]]; then
            cp -p --remove-destination "$file" "$folder/$name" # a running engine keeps its copy
        elif [[ ! -e "$folder/$name" ]]; then
            cp "$file" "$folder/$name" # the user's database is never replaced
        fi
    done
    # The menu entry and icons go where this desktop looks for them; the
    # pages where man finds them through the PATH.
    for file in "$menu_entry" "${menu_files[@]}" "${pages[@]}"; do
        place="$data_home/$file"
        [[ "$file" == man/* ]] && place="$prefix/share/$file"
        if is_ours "$place" "$stage$prefix/share/$file"; then
            install -D -m 644 "$stage$prefix/share/$file" "$place"
        else
            left_alone "$place"
        fi
    done
    if is_ours "$place_target" "resources/corvale-place@.target"; then
        install -D -m 644 "resources/corvale-place@.target" "$place_target"
        reload_user_units
    else
        left_alone "$place_target"
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
    # The engine's own check of its database and every folder above it.
    refusal=0
    if ! why=$("$folder/brisken" --dry-run --address=127.0.0.1 2>&1 >/dev/null); then
        refusal=1
        echo "Corvale is installed in $folder, but the engine refuses its database, so nothing starts at logon:"
        echo "$why"
    else
        echo "Corvale is installed in $folder, with a menu entry, and brisken and corvale in $bin_dir."
    fi
    if [[ -f "$autostart" ]] && ! is_ours "$autostart" resources/brisken-autostart.desktop.in; then
        left_alone "$autostart"
        echo "The engine does not run at logon from it; move it away, then: ./build.sh autostart"
    elif [[ -f "$autostart" ]]; then
        # The user's edits stay; only the program's place is brought up to date.
        sed -i -E "s#^Exec=(\"[^\"]*/brisken\"|[^ \"]*/brisken)#Exec=\"$folder/brisken\"#" "$autostart"
        grep -qx 'X-Corvale-Entry=1' "$autostart" || echo 'X-Corvale-Entry=1' >>"$autostart"
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
    if [[ -n "$watchers" ]]; then
        echo "The engine's watcher (process ${watchers% }) goes on with the engine it started with; the new one takes over at your next login."
    fi
    case ":$PATH:" in
    *":$bin_dir:"*) ;;
    *) echo "$bin_dir is not on your PATH yet; it is from your next login (~/.profile adds it)." ;;
    esac
    exit "$refusal"
    ;;
*)
    echo "usage: $0 run|test|bench|install|autostart|uninstall" >&2
    exit 2
    ;;
esac
