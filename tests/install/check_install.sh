#!/usr/bin/env bash
# Installs BUILD_DIR into a temporary DESTDIR and checks the tree: every file where the
# desktop, man, bash-completion and systemd look for it, and each one valid for its reader.
# Usage: check_install.sh BUILD_DIR PREFIX SYSCONFDIR VERSION
set -uo pipefail
build=$1 prefix=$2 etc=$3 version=$4
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

DESTDIR="$root" cmake --install "$build" >"$root.log" 2>&1 || {
    cat "$root.log"
    rm -f "$root.log"
    echo "FAIL: cmake --install"
    exit 1
}
rm -f "$root.log"
p="$root$prefix"
app_id=com.kestrunelabs.quillora

# Where each reader looks, relative to the prefix (the GNU layout the distribution expects).
expected=(
    bin/quillora-cli sbin/quillora-platform
    share/man/man1/quillora-cli.1.gz share/man/man8/quillora-platform.8.gz
    share/applications/$app_id.desktop share/icons/hicolor/scalable/apps/$app_id.svg
    share/metainfo/$app_id.metainfo.xml share/mime/packages/quillora.xml
    share/bash-completion/completions/quillora-cli share/bash-completion/completions/quillora-platform
    lib/systemd/system/quillora-platform.service lib/sysusers.d/quillora-platform.conf
    share/doc/quillora/copyright share/doc/quillora/changelog.gz
)
programs=(bin/quillora-cli sbin/quillora-platform)
if grep -q '^QUILLORA_GUI:BOOL=ON' "$build/CMakeCache.txt"; then
    expected+=(bin/quillora share/man/man1/quillora.1.gz)
    programs+=(bin/quillora)
fi
for file in "${expected[@]}"; do
    [[ -f "$p/$file" ]] || fail "not installed: $prefix/$file"
done
# The extractor's recognition model, character list and runtime library, whole.
models=$(find "$p" -type d -path '*/quillora/ocr-models' | head -n 1)
if [[ -z "$models" ]]; then
    fail "the text recognition model is not installed"
else
    [[ $(find "$models" -type f | wc -l) -eq 3 ]] || fail "the text recognition model is not 3 files"
    sums="$(cd "$(dirname "$0")/../.." && pwd)/models/files.sha256"
    (cd "$models" && sha256sum --check --quiet --ignore-missing "$sums") ||
        fail "installed recognition files differ"
fi
[[ -f "$root$etc/default/quillora-platform" ]] || fail "not installed: $etc/default/quillora-platform"
# Nothing may land outside the prefix but the service's settings.
while IFS= read -r stray; do
    fail "installed outside $prefix: ${stray#"$root"}"
done < <(find "$root" -type f ! -path "$p/*" ! -path "$root$etc/default/quillora-platform")
for program in "${programs[@]}"; do
    out=$("$p/$program" --version 2>&1) || fail "$program --version: $out"
    [[ "$out" == "$(basename "$program") $version" ]] || fail "$program --version printed: $out"
done

# The menu entry: valid, its program and icon installed, every file type it claims known.
desktop="$p/share/applications/$app_id.desktop"
out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
if grep -q '^QUILLORA_GUI:BOOL=ON' "$build/CMakeCache.txt"; then
    [[ -x "$p/bin/$exec_program" ]] || fail "the menu entry runs $exec_program, not installed"
fi
icon=$(sed -n 's/^Icon=//p' "$desktop")
[[ -f "$p/share/icons/hicolor/scalable/apps/$icon.svg" ]] || fail "no icon named $icon"
cp -r "$p/share/mime" "$root/mime"
update-mime-database "$root/mime" >/dev/null 2>&1 || fail "update-mime-database rejects our types"
IFS=';' read -ra types <<<"$(sed -n 's/^MimeType=//p' "$desktop")"
[[ ${#types[@]} -gt 0 ]] || fail "the menu entry claims no file types"
for type in "${types[@]}"; do
    grep -qx "$type" /usr/share/mime/types "$root/mime/types" 2>/dev/null ||
        fail "MimeType $type is not a known type (an alias or a typo?)"
done
grep -q ':application/x-fcpxml:\*\.fcpxml$' "$root/mime/globs2" 2>/dev/null ||
    fail "*.fcpxml files are not mapped to application/x-fcpxml"

metainfo="$p/share/metainfo/$app_id.metainfo.xml"
out=$(appstreamcli validate --no-net "$metainfo" 2>&1) || fail "appstreamcli validate: $out"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
    fail "the metainfo does not launch $app_id.desktop"
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo lacks release $version"

# Manual pages render without warnings and hold the subcommands' own help.
check_page() {  # page, texts it must show
    local page=$1 text rendered
    shift
    rendered=$(MANWIDTH=100 man --warnings -E UTF-8 -l "$page" 2>"$root/man.err") ||
        fail "man -l $page"
    [[ -s "$root/man.err" ]] && fail "man warnings for $(basename "$page"): $(cat "$root/man.err")"
    for text in "$@"; do
        grep -qF -- "$text" <<<"$rendered" || fail "$(basename "$page") lacks: $text"
    done
}
check_page "$p/share/man/man1/quillora-cli.1.gz" "quillora-cli - " "quillora-cli srt2fcpxml" \
    "--fps" "QUILLORA_API_URL" "$version"
[[ -f "$p/share/man/man1/quillora.1.gz" ]] &&
    check_page "$p/share/man/man1/quillora.1.gz" "quillora - " "QUILLORA_TASK_URL" "$version"
check_page "$p/share/man/man8/quillora-platform.8.gz" "quillora-platform - " "--listen" \
    "quillora-platform user add" "/var/lib/quillora-platform"

# The service: its program, settings and data folder are the installed ones.
unit="$p/lib/systemd/system/quillora-platform.service"
start=$(sed -n 's/^ExecStart=//p' "$unit")
[[ -x "$root${start%% *}" ]] || fail "ExecStart runs ${start%% *}, not installed"
[[ "$start" == *"--listen \${QUILLORA_PLATFORM_LISTEN}"* ]] || fail "ExecStart ignores the listen address"
[[ "$start" == *"--data /var/lib/quillora-platform"* ]] || fail "ExecStart data is not /var/lib/quillora-platform"
envfile=$(sed -n 's/^EnvironmentFile=-\{0,1\}//p' "$unit")
[[ "$envfile" == "$etc/default/quillora-platform" ]] || fail "EnvironmentFile is $envfile"
grep -q '^QUILLORA_PLATFORM_LISTEN=' "$root$etc/default/quillora-platform" ||
    fail "the settings file does not set QUILLORA_PLATFORM_LISTEN"
user=$(sed -n 's/^User=//p' "$unit")
grep -q "^u $user " "$p/lib/sysusers.d/quillora-platform.conf" || fail "no sysusers entry for $user"

# Completion reads the installed programs' help: subcommands, their options, nested commands.
complete_line() {  # words...; prints the candidates
    bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _quillora
             printf "%s\n" "${COMPREPLY[@]}"' _ "$p/share/bash-completion/completions/quillora-cli" "$@"
}
expect_completion() {  # expected candidates (space separated), words...
    local want=$1 got
    shift
    got=$(complete_line "$@" | sort | xargs)
    [[ "$got" == "$want" ]] || fail "completing '$*' gave '$got', expected '$want'"
}
expect_completion "srt2fcpxml srt2premiere" "$p/bin/quillora-cli" sr
expect_completion "--face --font --font-size --fps --frame" "$p/bin/quillora-cli" srt2fcpxml --f
expect_completion "topup" "$p/sbin/quillora-platform" user t
expect_completion "--listen" "$p/sbin/quillora-platform" --li

[[ $failures -eq 0 ]] || { echo "$failures check(s) failed"; exit 1; }
echo "install tree OK"
