# Sourced by the benchmarks that disinfect: plant COUNT TREE fills TREE
# afresh with COUNT copies of the infected samples in $seed (the names in
# $infected), 200 to a folder. $seed is velmora-synth's output folder.
infected=$(cd "$seed" && ls | grep -E '^(elkern_[abc]_rot[0-7]|elkern_c_entry|elkern_c_jump|worm_[a-h])\.exe$')

plant() {
    rm -rf "$2"
    n=0
    while [ "$n" -lt "$1" ]; do
        for name in $infected; do
            [ "$n" -lt "$1" ] || break
            folder=$2/d$((n / 200))
            [ -d "$folder" ] || mkdir -p "$folder"
            cp "$seed/$name" "$folder/$n-$name"
            n=$((n + 1))
        done
    done
}
