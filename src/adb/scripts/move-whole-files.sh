# shellcheck shell=ksh
# Moves the files adb has finished writing from the folder $F (a working
# folder still being sent) into the folder $T.
# Set before this runs: F, T, K (a file made as the sending began), M (the
# mark the answer was given at, or empty) and H (the folder a copied file is
# put aside in, a name of this copy's own).
#
# adb dates a file once it has written it, and a file it is writing is newer
# than $K. The files go in batches, each one rename as in the merge; in a
# batch where a name is a folder there, the others go one by one and that
# file stays for the merge to name. A finished file meeting one changed after
# $M is put aside as the merge does, which names it.

# The inner shells below look from other folders: only whole paths serve.
for p in "$F" "$T" "$K" ${M:+"$M"}; do
    case $p in /*) ;; *) exit 1 ;; esac
done
cd "$F" || exit 1
[ -d "$T" ] || exit 0
if [ -n "$M" ]; then
    [ -f "$M" ] || exit 0
    N=-newercm
    find "$M" -maxdepth 0 -newercm "$M" >/dev/null 2>&1 || N=-newer
    # The names of the finished files alone are looked up in $T, from
    # inside it: what was moved in before is not gone through again. ($B is
    # find's "{}", which the outer find would take for its own.)
    # shellcheck disable=SC2016 # expanded by the inner shells
    a='for p; do n=${p##*/}; mkdir -p "$F/$H" && mv -f "$F/$n" "$F/$H/$n" || { echo failed; exit 1; }; done'
    # shellcheck disable=SC2016,SC2156 # expanded by the inner shells, which take the names as parameters
    r=$(F=$F T=$T N=$N M=$M H=$H A=$a B={} find . -maxdepth 1 -type f ! -newer "$K" -exec sh -c '
        cd "$T" || { echo failed; exit 1; }
        find "$@" -maxdepth 0 ! -type d "$N" "$M" -exec sh -c "$A" sh "$B" + 2>/dev/null
        true' sh {} + 2>/dev/null) || exit 0
    case $r in *failed*) exit 0 ;; esac
fi
# shellcheck disable=SC2016 # expanded by the inner shell
find . -maxdepth 1 -type f ! -newer "$K" -exec sh -c '
    d=$0
    for f; do
        [ -d "$d/${f#./}" ] || continue
        for g; do
            [ -d "$d/${g#./}" ] || mv -f "$g" "$d/"
        done
        exit 0
    done
    mv -f "$@" "$d/"' "$T" {} + 2>/dev/null
true
