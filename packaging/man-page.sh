#!/usr/bin/env bash
# Writes a program's manual page from its own --help (help2man), followed by the help of every
# subcommand, so the page always matches the binary it ships with.
# Usage: man-page.sh PROGRAM SECTION SUMMARY VERSION STATIC_INCLUDE OUTPUT.gz
set -euo pipefail
program=$1 section=$2 summary=$3 version=$4 static_include=$5 output=$6
name=$(basename "$program")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A neutral environment: the help shows defaults derived from it (the platform's data folder).
help_of() { env -i HOME='~' PATH=/usr/bin:/bin LC_ALL=C.UTF-8 "$program" "$@" --help; }

# Names listed under "Subcommands:" in a help text.
subcommands_of() {
    help_of "$@" | awk '/^[A-Za-z][A-Za-z ]*:$/ { listing = ($0 == "Subcommands:"); next }
                        listing && /^  [a-z0-9]/ { print $1 }'
}

# Roff-safe preformatted text: backslashes escaped, no line read as a request.
as_roff() { sed -e 's/\\/\\e/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"; }

describe() {  # the subcommand path as words
    printf '.SS "%s"\n.nf\n' "$name $*"
    help_of "$@" | as_roff
    printf '.fi\n'
    local sub
    for sub in $(subcommands_of "$@"); do describe "$@" "$sub"; done
}

{
    cat "$static_include"
    subs=$(subcommands_of)
    if [[ -n "$subs" ]]; then
        printf '[COMMANDS]\nEach command has its own \\fB\\-\\-help\\fR:\n'
        for sub in $subs; do describe "$sub"; done
    fi
} > "$work/include.h2m"

env -i HOME='~' PATH=/usr/bin:/bin LC_ALL=C.UTF-8 ${SOURCE_DATE_EPOCH:+SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH} \
    help2man --no-info --section="$section" --name="$summary" --version-string="$version" \
    --include="$work/include.h2m" --output="$work/$name.$section" "$program"
gzip -9n < "$work/$name.$section" > "$output.tmp"
mv "$output.tmp" "$output"
