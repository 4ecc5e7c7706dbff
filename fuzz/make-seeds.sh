#!/usr/bin/env bash
# Writes the seed corpus of every fuzz target into OUT_DIR/<target>/ from the repository's
# examples and a sample installation source: make-seeds.sh BUILD_DIR OUT_DIR
# BUILD_DIR is a build holding tools/make-sample-source and data/engine.luc.
set -euo pipefail
build=$(realpath "$1")
out=$(realpath -m "$2")
repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/nuvel-seeds-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"/{profile_fuzz,answers_fuzz,messages_fuzz,source_files_fuzz,expand_fuzz,server_list_fuzz,login_reply_fuzz,comp_reply_fuzz,records_fuzz}

"$build/tools/make-sample-source" --content-mb 1 --products-inf --content-as mixed \
  "$work/source" >/dev/null

# Profile files: "section\ key\ value\ " (the fuzzer's field separator), then a file's bytes.
n=0
while IFS= read -r -d '' ini; do
  n=$((n + 1))
  { printf 'Nuvel\\ log_level\\ 3\\ '; cat "$ini"; } >"$out/profile_fuzz/ini$n"
done < <(find "$work/source" -iname '*.ini' -size -64k -print0 | sort -z | head -z -n 20)
printf 'Records\\ note\\ x\r\n[Other]\\ [Records]\r\nnote=1\r\n' >"$out/profile_fuzz/line-break"

# Answer files: the examples, and one line of every kind.
cp "$repo"/examples/*.answers "$out/answers_fuzz/"
cat >"$out/answers_fuzz/kinds" <<'ANSWERS'
advanced set 8="a \"quoted\" \\ text\n" check 3 uncheck 4 choose 6 control -> 1
family select 2 -> 1
products select 4:0,2 select none -> 999
prompt:"Nuvel Setup" -> 2
prompt:* -> 1
folder:MSG_Where "/opt/Nuvel" 
folder:* ""
* -> 1
control
ANSWERS

# Message files: the one this build compiled and the one of the sample source.
cp "$build/data/engine.luc" "$out/messages_fuzz/engine.luc"
find "$work/source" -iname '*.luc' -size -2M -exec cp {} "$out/messages_fuzz/" \;

# Products.INF and VERSION of the sample source.
cp "$work/source/install/data/Products.INF" "$out/source_files_fuzz/Products.INF"
cp "$work/source/VERSION" "$out/source_files_fuzz/VERSION"

# Server lists: "address\ records.ini\ " (the fuzzer's field separator), then a version file;
# the last bytes choose the server and the announcement.
{ printf 'rs003.nuvel-records.example\\ [Records]\r\nserver_num=003\r\nserver_list_ver=020\r\n'
  printf 'server_042_server_name=School\r\nserver_042_recordsipaddress=10.0.0.1\r\n\\ '
  cat "$work/source/install/data/versions.ini"; } >"$out/server_list_fuzz/sample-list"
printf '\\ [Records]\r\nrecordsipaddress=records.nuvel-learning.example\r\n\\ [Records]\r\n'\
'server_list_ver=001\r\nserver_001_server_name=Main\r\nserver_001_recordsipaddress=a\r\n'\
'server_001_wo_responsepage=none\r\n\x01\x07' >"$out/server_list_fuzz/retired-host"

# Zip archives: the small course archives of the sample source, and members that try to
# leave the destination (through the planted links, "..", an absolute path, a link member).
find "$work/source" -iname '*.zip' -size -256k -print0 | sort -z | head -z -n 10 |
  xargs -0 -r cp -t "$out/expand_fuzz/"
mkdir -p "$work/zip/linked" "$work/zip/sub"
echo member >"$work/zip/linked/into-link"
echo member >"$work/zip/linked.txt"
echo member >"$work/zip/sub/file"
ln -s /tmp "$work/zip/sub/link"
(cd "$work/zip" && zip -q -X "$out/expand_fuzz/through-links.zip" linked/into-link linked.txt \
  && zip -q -X -y "$out/expand_fuzz/link-member.zip" sub/file sub/link \
  && zip -q -X "$out/expand_fuzz/dot-dot.zip" sub/file && printf '@ sub/file\n@=../../escaped\n' |
  zipnote -w "$out/expand_fuzz/dot-dot.zip")
# Records-server replies: a login line of each group width, a refusal, an error page; compressed
# replies (the last byte chooses between a reply built from the rest and raw bytes after "COMP").
printf 'ANSW LOGN LOGIN001 00042 CLASS001 K1234567 4 0 1   S1 app FRA\r\n' \
  >"$out/login_reply_fuzz/five-digits"
printf 'ANSW LOGN 12345678 1234  CLASS001 K1234567 3 2 0   S9 NuvelRecords GBR\r\n' \
  >"$out/login_reply_fuzz/four-digits"
printf 'ANSW LGNS 00000000 2026-12-07+10:11:12 BAD PASSWORD\r\n' >"$out/login_reply_fuzz/refused"
printf '\r\n\r\n<HTML><BODY>404 Not Found</BODY></HTML>' >"$out/login_reply_fuzz/error-page"
printf 'ANSW      00000001 2026-12-07+10:11:12 students\r\n\x01' >"$out/comp_reply_fuzz/text"
printf ' 00000010 00000100 x\x9c\xcbH\xcd\xc9\xc9\x07\x00\x00' >"$out/comp_reply_fuzz/raw"

# Class and student records and a CLSB reply. The fuzzer reads its choices from the end of an
# input: connected, protocol level, UTF-8 asked for, big-endian, then the kind (0 a class record,
# 1 a student record, 2 CLSB replies, each preceded at the end by the index asked for).
put() { printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }
head -c 700 /dev/zero >"$work/group.rec"
put "$work/group.rec" 0 'Seed School'
put "$work/group.rec" 41 'admin'
put "$work/group.rec" 82 'GSEED001'
put "$work/group.rec" 94 '\x1a\xfc'
put "$work/group.rec" 100 '\x01\x00'
put "$work/group.rec" 112 '\x1a\x00'
put "$work/group.rec" 252 '\x0c\x00'
put "$work/group.rec" 270 '\x48\x03'
head -c 700 /dev/zero >"$work/class.rec"
put "$work/class.rec" 0 'Cla\xc3\xa9s \xe9t\xe9'
put "$work/class.rec" 41 'Teacher'
put "$work/class.rec" 82 'CSEED001'
put "$work/class.rec" 94 '\x01\x00'
put "$work/class.rec" 118 '**__***FAQ***'
put "$work/class.rec" 252 '\x0c\x00'
put "$work/class.rec" 256 '\x21\x78'
head -c 552 /dev/zero >"$work/student.rec"
put "$work/student.rec" 0 'SSEED001'
put "$work/student.rec" 9 'Ann Lee'
put "$work/student.rec" 144 '\x18\x00'
put "$work/student.rec" 148 '\x21\x78'
put "$work/student.rec" 376 '\x00\x28'
{ cat "$work/group.rec"; printf '\x01\x04\x01\x00\x00'; } >"$out/records_fuzz/group"
{ cat "$work/class.rec"; printf '\x01\x01\x00\x01\x00'; } >"$out/records_fuzz/class-big-endian"
{ cat "$work/student.rec"; printf '\x00\x04\x01\x00\x01'; } >"$out/records_fuzz/student"
{ printf 'ANSW CLSB 00000002 2026-01-02+03:04:05 0700 0002\r\n'
  cat "$work/group.rec" "$work/class.rec"; printf '\x00\x00\x0c\x00\x01\x04\x00\x00\x02'
} >"$out/records_fuzz/class-page"

echo "seeds in $out: $(find "$out" -type f | wc -l) files"
