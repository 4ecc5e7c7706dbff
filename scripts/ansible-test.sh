#!/usr/bin/env bash
# Runs deploy/ansible/site.yml against this machine (-c local) with a throw-away sysroot:
# builds the .deb, writes the sample source, and runs the playbook twice. The first run must
# install the package and the course and fetch the transcript and the log; the second must
# report changed=0 and touch nothing. A third run with a course the source lacks must fail
# and name the exit status and the course. Then the package is purged again. Run as root.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
[ "$(id -u)" -eq 0 ] || { echo "ansible-test: run as root (it installs and purges the package)" >&2; exit 2; }
bash scripts/install-deps.sh

python3 -m unittest deploy/ansible/tests/test_filters.py

work=$(mktemp -d "${TMPDIR:-/tmp}/nuvel-ansible-XXXXXX")
package=
cleanup() {
  [ -z "$package" ] || apt-get purge -y -q "$package" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

t=$SECONDS
deb=$(bash scripts/build-deb.sh 2>"$work/build-deb.log" | tail -n 1) ||
  { tail -n 30 "$work/build-deb.log"; echo "ansible-test: build-deb.sh failed" >&2; exit 1; }
[ -f "$deb" ] || { echo "ansible-test: build-deb.sh gave no .deb ($deb)" >&2; exit 1; }
if dpkg-query -W -f='${Status}' "$(dpkg-deb -f "$deb" Package)" 2>/dev/null | grep -q 'install ok installed'; then
  echo "ansible-test: $(dpkg-deb -f "$deb" Package) is installed already; purge it first (the test installs it)" >&2
  exit 1
fi
package=$(dpkg-deb -f "$deb" Package)
# The sample source comes from the development build (scripts/test.sh makes it in CI).
[ -f build/build.ninja ] || bash scripts/build.sh >&2
cmake --build build -j2 --target make-sample-source >/dev/null
echo "ansible-test: $(basename "$deb") built ($((SECONDS - t)) s)"

root="$work/root"
mkdir -p "$root/home/Desktop" "$root/tmp" "$work/ansible-tmp"
./build/tools/make-sample-source "$work/source" >/dev/null
course=$(sed -n 's/^products select \([^ ]*\) .*/\1/p' examples/install-one-course.answers)

# Everything the role writes goes under the sysroot and $work; Ansible's own temporary files too.
export ANSIBLE_LOCAL_TEMP="$work/ansible-tmp" ANSIBLE_REMOTE_TEMP="$work/ansible-tmp"
export ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0
cat > "$work/vars.json" <<JSON
{"nuvel_setup_hosts": "localhost",
 "nuvel_setup_deb": "$deb",
 "nuvel_setup_source_kind": "copy",
 "nuvel_setup_source_dir": "$work/source",
 "nuvel_setup_answers": "$PWD/examples/install-one-course.answers",
 "nuvel_setup_sysroot": "$root",
 "nuvel_setup_environment": {"HOME": "$root/home", "TMPDIR": "$root/tmp"},
 "nuvel_setup_fetch_dir": "$work/collected"}
JSON

fail() { echo "ansible-test: $*" >&2; exit 1; }
# Runs the playbook with the given extra arguments into $work/$1.log; its status in $status.
play() {
  local log="$work/$1.log"
  shift
  status=0
  ansible-playbook -i localhost, -c local deploy/ansible/site.yml -e "@$work/vars.json" "$@" \
    >"$log" 2>&1 || status=$?
}
# The "changed" count of the PLAY RECAP line of localhost.
changed_of() {
  sed -n 's/^localhost[[:space:]]*:.* changed=\([0-9]*\) .*/\1/p' "$work/$1.log"
}
# Every file of the installation and of the system folder (records.ini, the log) with its size
# and modification time.
tree_state() { (cd "$root" && find opt/Nuvel var/lib/Nuvel -printf '%p %s %T@\n' | sort); }

t=$SECONDS
play run1
[ "$status" -eq 0 ] || { cat "$work/run1.log"; fail "first run failed (status $status)"; }
changed=$(changed_of run1)
[ -n "$changed" ] && [ "$changed" -gt 0 ] || { cat "$work/run1.log"; fail "first run: changed=$changed"; }
for part in launch content; do
  [ -d "$root/opt/Nuvel/$part/$course" ] || fail "first run: $course is not in $root/opt/Nuvel/$part"
done
collected="$work/collected/localhost"
[ -s "$collected/transcript.jsonl" ] || fail "first run: no transcript fetched"
[ -s "$collected/Nuvel_log.txt" ] || fail "first run: no log fetched"
grep -q "summary: installed 1 ($course), updated 0, removed 0, failed 0; .*exit status 0" \
  "$collected/summary.txt" || fail "first run: summary $(cat "$collected/summary.txt")"
status_before=$(python3 -c 'import json, sys
listing = json.load(open(sys.argv[1]))
print(*[c["status"] for c in listing["source_courses"] if c["folder"] == sys.argv[2]])' \
  "$collected/list-before.json" "$course")
[ "$status_before" = new ] || fail "first run: the inventory before it says $course is '$status_before'"
echo "ansible-test: first run installed $course, changed=$changed ($((SECONDS - t)) s)"

t=$SECONDS
before=$(tree_state)
play run2
[ "$status" -eq 0 ] || { cat "$work/run2.log"; fail "second run failed (status $status)"; }
changed=$(changed_of run2)
[ "$changed" = 0 ] || { cat "$work/run2.log"; fail "second run: changed=$changed, expected 0"; }
grep -q "skip: nothing to do: $course is same" "$work/run2.log" ||
  { cat "$work/run2.log"; fail "second run: did not skip the replay"; }
[ "$(tree_state)" = "$before" ] || fail "second run: the installation changed"
grep -q "^not run: nothing to do" "$collected/summary.txt" ||
  fail "second run: summary.txt says $(cat "$collected/summary.txt")"
echo "ansible-test: second run changed nothing ($((SECONDS - t)) s)"

t=$SECONDS
sed "s/\\b$course\\b/999XXX99/" examples/install-one-course.answers > "$work/absent.answers"
play run3 -e nuvel_setup_answers="$work/absent.answers" -e nuvel_setup_source_kind=path
[ "$status" -ne 0 ] || { cat "$work/run3.log"; fail "a course the source lacks: the play passed"; }
grep -q 'fatal: .*nuvel-setup exited with status 3: .*key \\"999XXX99\\"' "$work/run3.log" ||
  { cat "$work/run3.log"; fail "a course the source lacks: the failure does not say why"; }
echo "ansible-test: a course the source lacks fails the play with status 3 ($((SECONDS - t)) s)"

apt-get purge -y -q "$package" >/dev/null
! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
  fail "$package is still installed"
echo "ansible-test: passed in $((SECONDS - start)) s"
