#!/usr/bin/env bash
# The Debian package on this machine, as root: builds it (scripts/build-deb.sh), fails on any
# lintian error, installs it with apt, checks the installed files, installs the sample course
# with the installed /usr/bin/nuvel-setup into a throw-away sysroot, renders the manual pages,
# completes an option through the bash completion, purges the package and checks that nothing
# of it is left. Needs build/tools/make-sample-source (scripts/build.sh builds it).
# Leaves the package installed only when a check after the installation fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
start=$SECONDS

fail() {
  echo "package-test: FAIL: $*" >&2
  exit 1
}
step() { echo "package-test: $* ($((SECONDS - start)) s)"; }

[ "$(id -u)" -eq 0 ] || fail "run as root: the test installs and purges the package"
[ -x build/tools/make-sample-source ] || bash scripts/build.sh

deb=$(bash scripts/build-deb.sh | tail -n 1)
[ -f "$deb" ] || fail "build-deb.sh printed '$deb', which is not a file"
step "built $deb"

# ---- lintian: no errors (warnings are printed, not fatal) --------------------------------
lintian_out=$(lintian --display-info --fail-on error "$deb" 2>&1) || {
  echo "$lintian_out" >&2
  fail "lintian reports errors"
}
if [ -n "$lintian_out" ]; then echo "$lintian_out"; fi
step "lintian: no errors"

# ---- install ------------------------------------------------------------------------------
# Slim images tell dpkg not to unpack manual pages and documentation. The package ships them;
# the test includes ours explicitly (and says so) so that it can check they render.
dpkg_options=()
if grep -hs '^path-exclude' /etc/dpkg/dpkg.cfg /etc/dpkg/dpkg.cfg.d/* | grep -q '/usr/share/\(man\|doc\)'; then
  echo "package-test: this machine's dpkg configuration excludes manual pages or documents;" \
    "including nuvel-setup's for the test"
  dpkg_options=(-o 'Dpkg::Options::=--path-include=/usr/share/man/man1/nuvel-*'
                -o 'Dpkg::Options::=--path-include=/usr/share/doc/nuvel-setup/*')
fi
dpkg-query -W nuvel-setup >/dev/null 2>&1 && apt-get purge -y -q nuvel-setup >/dev/null
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
  "${dpkg_options[@]}" "$deb" >/dev/null
step "installed with apt-get"

expected=(
  /usr/bin/nuvel-setup
  /usr/bin/nuvel-ini
  /usr/libexec/nuvel-setup/NuvelTool
  /usr/share/nuvel-setup/engine.luc
  /usr/share/man/man1/nuvel-setup.1.gz
  /usr/share/man/man1/nuvel-ini.1.gz
  /usr/share/applications/nuvel-setup.desktop
  /usr/share/icons/hicolor/scalable/apps/nuvel-setup.svg
  /usr/share/bash-completion/completions/nuvel-setup
  /usr/share/bash-completion/completions/nuvel-ini
  /usr/share/doc/nuvel-setup/copyright
  /usr/share/doc/nuvel-setup/changelog.gz
)
mapfile -t owned < <(dpkg -L nuvel-setup | while read -r f; do [ -d "$f" ] || echo "$f"; done)
for f in "${expected[@]}"; do
  [ -f "$f" ] || fail "$f is not installed"
  printf '%s\n' "${owned[@]}" | grep -qx "$f" || fail "$f is not in the package's file list"
done
[ ${#owned[@]} -eq ${#expected[@]} ] ||
  fail "the package holds other files than expected: $(printf '%s ' "${owned[@]}")"
for f in /usr/bin/nuvel-setup /usr/bin/nuvel-ini /usr/libexec/nuvel-setup/NuvelTool; do
  [ -x "$f" ] || fail "$f is not executable"
done
version=$(dpkg-query -W -f='${Version}' nuvel-setup)
/usr/bin/nuvel-setup --version | grep -q . || fail "the installed nuvel-setup prints no version"
desktop-file-validate /usr/share/applications/nuvel-setup.desktop ||
  fail "the desktop entry does not validate"
step "installed files ($version) in place"

# ---- the sample installation with the installed program ------------------------------------
work=$(mktemp -d "${TMPDIR:-/tmp}/nuvel-package-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home/Desktop" "$work/tmp"
build/tools/make-sample-source "$work/source" >/dev/null
status=0
(
  cd "$work"  # nothing of the build tree is found from here
  NUVEL_SYSROOT="$work" HOME="$work/home" TMPDIR="$work/tmp" /usr/bin/nuvel-setup \
    --source "$work/source" --answers "$root/examples/install-one-course.answers" \
    2>"$work/stderr"
) || status=$?
[ "$status" -eq 0 ] || { cat "$work/stderr" >&2; fail "the sample installation exited $status"; }
[ -f "$work/opt/Nuvel/content/003MUL50/NUVEL.INI" ] ||
  fail "course 003MUL50 is not installed in $work/opt/Nuvel"
grep -q 'summary: installed 1 (003MUL50),.* exit status 0' "$work/stderr" ||
  { cat "$work/stderr" >&2; fail "no summary line naming the installed course"; }
step "sample installation with /usr/bin/nuvel-setup: exit 0, 003MUL50 installed"

# A source without a message file: the texts come from the one the package installed, which the
# program finds from /usr/bin through ../share/nuvel-setup.
mkdir -p "$work/empty-source" "$work/sysroot2/home" "$work/sysroot2/tmp"
status=0
(
  cd "$work"
  NUVEL_SYSROOT="$work/sysroot2" HOME="$work/sysroot2/home" TMPDIR="$work/sysroot2/tmp" \
    /usr/bin/nuvel-setup --source "$work/empty-source" --ui script --quiet \
    --answers <(echo 'prompt:* -> 1') >"$work/stdout2" 2>"$work/stderr2"
) || status=$?
log=$(find "$work/sysroot2" -name Nuvel_log.txt | head -n 1)
[ -n "$log" ] || fail "the run on an empty source left no log"
grep -aq 'OPENED .*/usr/share/nuvel-setup/engine.luc' "$log" || {
  tr -d '\r' <"$log" | tail -n 20 >&2
  fail "the installed program did not open /usr/share/nuvel-setup/engine.luc"
}
step "the installed message file is found (empty source: exit $status)"

# ---- manual pages and completion ---------------------------------------------------------
for page in nuvel-setup nuvel-ini; do
  text=$(MANWIDTH=80 man -P cat "$page" 2>"$work/man-errors")
  [ ! -s "$work/man-errors" ] || { cat "$work/man-errors" >&2; fail "man $page warns"; }
  grep -q 'EXIT STATUS' <<<"$text" || fail "man $page does not render its EXIT STATUS section"
done
grep -q 'ANSWER FILES' <<<"$(man -P cat nuvel-setup 2>/dev/null)" ||
  fail "man nuvel-setup has no ANSWER FILES section"
step "man nuvel-setup and man nuvel-ini render without warnings"

# Completes "nuvel-setup --record-a" and "nuvel-setup --ui " as bash would, loading the
# completion on demand from its installed place.
completions=$(bash -c '
  source /usr/share/bash-completion/bash_completion
  try_complete() {
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    __load_completion nuvel-setup
    local function_name
    function_name=$(command complete -p nuvel-setup | sed -n "s/.*-F \([^ ]*\) .*/\1/p")
    "$function_name" nuvel-setup "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
    echo "${COMPREPLY[*]}"
  }
  try_complete nuvel-setup --record-a
  try_complete nuvel-setup --ui ""
')
[ "$(sed -n 1p <<<"$completions")" = "--record-answers" ] ||
  fail "bash completion of --record-a gave '$(sed -n 1p <<<"$completions")'"
[ "$(sed -n 2p <<<"$completions")" = "qt terminal script" ] ||
  fail "bash completion of --ui gave '$(sed -n 2p <<<"$completions")'"
step "bash completion completes --record-a and --ui"

# ---- purge --------------------------------------------------------------------------------
DEBIAN_FRONTEND=noninteractive apt-get purge -y -q nuvel-setup >/dev/null
case "$(dpkg-query -W -f='${Status}' nuvel-setup 2>/dev/null || true)" in
  *"ok installed" | *config-files* | *half-*) fail "dpkg still lists nuvel-setup after the purge" ;;
esac
for f in "${owned[@]}"; do
  [ ! -e "$f" ] || fail "$f is left after the purge"
done
for d in /usr/libexec/nuvel-setup /usr/share/nuvel-setup /usr/share/doc/nuvel-setup; do
  [ ! -e "$d" ] || fail "$d is left after the purge"
done
step "purged: nothing of the package is left"
echo "package-test: passed in $((SECONDS - start)) s"
