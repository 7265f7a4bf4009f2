# shellcheck shell=ksh
# Merges the folder $F into the folder $T, depth first, and prints
# "merged:" with every clash once the merge is whole.
# Set before this runs: F, T, M (the mark the answer was given at, or empty)
# and H (the folder a copied file is put aside in, a name of this copy's own).
#
# The shell itself sorts the items, so that no program runs per item: a
# folder not at the destination moves whole, one that is there is merged,
# and the files of a folder then move by "mv -f" in batches as long as the
# argument list allows (each a rename, replacing a file of that name in one
# step). A file meeting a folder or a folder meeting a file stays; each such
# clash is added to $c as kind and name ("Dname/": a folder is in the way). Nothing is ever removed but the emptied folders of the merge itself:
# on a storage that ignores letter case, a name may reach the phone's item of
# another spelling, which only a whole new file may replace. A link at the
# destination is a file here, whatever it leads to: never merged into.
# With a mark in $M, a file there changed after it (by its change time, which
# a write, a rename or a move into the folder sets) came after the answer and
# stays: one look at each folder finds them, and the copied file of that
# name is put aside into the folder $H of the copied folder, each added as
# "Nname/".

# The inner shells below look from other folders: only whole paths serve.
for p in "$F" "$T" ${M:+"$M"}; do
    case $p in /*) ;; *) exit 0 ;; esac
done

# $N is find's test for "changed after the mark": by change time where find
# knows it, else by modification time.
N=-newer
if [ -n "$M" ]; then
    N=-newercm
    find "$M" -maxdepth 0 -newercm "$M" >/dev/null 2>&1 || N=-newer
fi
c=
# Puts aside the copied files of $S named by the paths given.
# shellcheck disable=SC2016 # expanded by the inner shell
a='for p; do n=${p##*/}; mkdir -p "$S/$H" && mv -f "$S/$n" "$S/$H/$n" || { echo failed; exit 1; }; done'

m() {
    typeset s="$1" d="$2" f n k=0
    for f in "$s"/* "$s"/.*; do
        n=${f##*/}
        case "$n" in .|..) continue ;; esac
        [ "$n" = "$H" ] && continue
        if [ -d "$f" ] && [ ! -L "$f" ]; then
            if [ -d "$d/$n" ] && [ ! -L "$d/$n" ]; then
                m "$f" "$d/$n" || return 1
            elif [ -e "$d/$n" ] || [ -L "$d/$n" ]; then
                c="${c}F$n/"
            else
                mv "$f" "$d/$n" || return 1
            fi
        elif [ -d "$d/$n" ]; then
            c="${c}D$n/"
            k=1
        fi
    done
    if [ -n "$M" ]; then
        # Only the names of the files still here are looked up there, from
        # inside the folder: the files moved in before are not gone through
        # again, and find alone tells the change times. ($B is find's "{}",
        # which the outer find would take for its own.)
        # shellcheck disable=SC2016,SC2156 # expanded by the inner shells, which take the names as parameters
        r=$(cd "$s" && S=$s D=$d N=$N M=$M H=$H A=$a B={} find . -mindepth 1 -maxdepth 1 \( -type f -o -type l \) -exec sh -c '
            cd "$D" || { echo failed; exit 1; }
            find "$@" -maxdepth 0 ! -type d "$N" "$M" -exec sh -c "$A" sh "$B" + 2>/dev/null
            true' sh {} +) || return 1
        case $r in *failed*) return 1 ;; esac
        for f in "$s/$H"/* "$s/$H"/.*; do
            n=${f##*/}
            case "$n" in .|..) continue ;; esac
            [ -e "$f" ] || [ -L "$f" ] || continue
            c="${c}N$n/"
        done
    fi
    if [ $k = 0 ]; then
        # shellcheck disable=SC2016 # expanded by the inner shell
        find "$s" -mindepth 1 -maxdepth 1 ! -type d -exec sh -c 'mv -f "$@" "$0"' "$d" {} + || return 1
    else
        # A file in the way of a folder: the others one by one.
        for f in "$s"/* "$s"/.*; do
            n=${f##*/}
            case "$n" in .|..) continue ;; esac
            [ -e "$f" ] || [ -L "$f" ] || continue
            [ -d "$f" ] && [ ! -L "$f" ] && continue
            [ -d "$d/$n" ] && continue
            mv -f "$f" "$d/$n" || return 1
        done
    fi
    rmdir "$s" 2>/dev/null
    return 0
}

# Without its mark what came meanwhile can't be told: nothing is moved. The
# clashes go out through a here-document: echo may read backslashes in a
# name as escapes.
if { [ -z "$M" ] || [ -f "$M" ]; } && m "$F" "$T" 2>/dev/null; then
    rm -rf "$F"
    cat <<END
merged:$c
END
fi
true
