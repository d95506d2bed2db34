#!/usr/bin/env bash
# Runs the tavrin program on documents and checks its output and exit status.
#   tavrin_cli_test.sh TAVRIN DEMO WORKDIR
# TAVRIN is the program under test (built or installed); DEMO the demonstration program, which
# writes the orders documents in the three formats.
set -uo pipefail
tavrin=$(realpath "$1")
demo=$(realpath "$2")
work=$3
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# expect STATUS COMMAND...: runs the command (output in out.txt, err.txt) and checks the status.
expect() {
  local want=$1; shift
  "$@" >out.txt 2>err.txt
  local got=$?
  [ "$got" -eq "$want" ] || fail "exit $got instead of $want: $* ($(head -c 300 err.txt))"
}
contains() { grep -qF -- "$2" "$1" || fail "$1 lacks '$2': $(head -c 300 "$1")"; }
same() { cmp -s "$1" "$2" || fail "$1 and $2 differ"; }
bytes() { printf "$1" >"$2"; }

"$demo" 300 . >/dev/null || { echo "the demonstration failed" >&2; exit 1; }

# --- The orders in three formats -----------------------------------------------------------------
expect 0 "$tavrin" check orders.bin orders.json orders.xml
[ "$(grep -c ': ok' out.txt)" -eq 3 ] || fail "check of the orders: $(cat out.txt)"
expect 0 "$tavrin" show orders.bin
contains out.txt "container of 300 object"
contains out.txt "[0] object Bench::Order (12 values)"
contains out.txt "payload: blob 32 bytes: "
contains out.txt "    quantity: uint16 "
expect 0 "$tavrin" show orders.json
contains out.txt "array of 300"
contains out.txt '    quantity: '
expect 0 "$tavrin" show orders.xml
contains out.txt '<Bench-Orders xmlns:xsi='
contains out.txt '<payload> <![CDATA[ 48 bytes'

# --- Round trips ----------------------------------------------------------------------------------
# Binary -> JSON -> binary with --like gives the original bytes (the orders hold whole seconds),
# and the result gives the same JSON again; the same through XML, and from the JSON and XML
# that the demonstration wrote itself (values in the application's order).
for via in json xml; do
  expect 0 "$tavrin" convert orders.bin "o.$via" --class Bench::Orders
  expect 0 "$tavrin" convert "o.$via" "back-$via.bin" --like orders.bin
  [ -s err.txt ] && fail "warnings converting back from $via: $(cat err.txt)"
  same orders.bin "back-$via.bin"
  expect 0 "$tavrin" convert "back-$via.bin" "again.$via" --class Bench::Orders
  same "o.$via" "again.$via"
  expect 0 "$tavrin" convert "orders.$via" "app-$via.bin" --like orders.bin
  same orders.bin "app-$via.bin"
done
# The XML written from the binary document is the demonstration's own XML: same values, same
# class names; only the order of the values within an object may differ, so compare sorted.
sort o.xml >a.txt; sort orders.xml >b.txt; same a.txt b.txt

# Milliseconds are lost on the way through JSON: other bytes, but the same JSON again.
# Document: object, names "t" (0) and "x" (1); a date-time t with 5 ms, an int32 x = 7.
bytes '\0\0\0\0\x10\x02\0\0\0\x01\0\0\0t\0\0\0\0\x01\0\0\0x\x01\0\0\0\x02\x07\x01\0\0\0\x01\0\0\0\x07\0\0\0\x0e\x01\0\0\0\0\0\0\0\0\0\0\0\x50\xc3\0\0\0\0\0\0\0' ms.bin
expect 0 "$tavrin" show ms.bin
contains out.txt "t: datetime 1601-01-01T00:00:00.005"
expect 0 "$tavrin" convert ms.bin ms.json
expect 0 "$tavrin" convert ms.json ms2.bin --like ms.bin
cmp -s ms.bin ms2.bin && fail "milliseconds survived JSON"
expect 0 "$tavrin" convert ms2.bin ms2.json
same ms.json ms2.json

# An empty blob is written to JSON as empty text, which the reader does not decode: it comes
# back as an empty blob.
bytes '\0\0\0\0\x10\x01\0\0\0\x01\0\0\0e\0\0\0\0\x01\x0f\x01\0\0\0\0\0\0\0\0\0\0\0' eb.bin
expect 0 "$tavrin" convert eb.bin eb.json
expect 0 "$tavrin" convert eb.json eb2.bin --like eb.bin
same eb.bin eb2.bin

# Objects with enough values of one kind to make the binary writer's keyed table grow: the
# first meets every name anew, the others only known names.
awk 'BEGIN { printf "["; for (k = 0; k < 3; k++) { printf "%s{", k ? "," : ""
  for (i = 0; i < 300; i++) printf "%s\"m%d\":%d", i ? "," : "", i, i * k; printf "}" }; print "]" }' >wide.json
expect 0 "$tavrin" convert wide.json wide.bin
expect 0 "$tavrin" convert wide.bin wide2.json
expect 0 "$tavrin" convert wide2.json wide3.bin --like wide.bin
same wide.bin wide3.bin

# Without --like, kinds follow the README's rules, and a second round changes nothing.
printf '{"b":true,"i":-5,"l":5000000000,"u":18446744073709551615,"d":0.5,"t":"2024-03-05T14:07:09","s":"x\\"y","a":[1,2.5],"o":{"n":1}}' >kinds.json
expect 0 "$tavrin" convert kinds.json kinds.bin
expect 0 "$tavrin" show kinds.bin
for line in "b: bool true" "i: int32 -5" "l: int64 5000000000" "u: uint64 18446744073709551615" \
            "d: double 0.5" "t: datetime 2024-03-05T14:07:09.000" 's: wstring "x\"y"' \
            "a: container of 2 double" "o: object Object (1 value)"; do
  contains out.txt "$line"
done
expect 0 "$tavrin" convert kinds.bin kinds2.json
expect 0 "$tavrin" convert kinds2.json kinds2.bin --like kinds.bin
same kinds.bin kinds2.bin

# --- Byte examples ---------------------------------------------------------------------------------
# The empty object: ten bytes; JSON and XML as the writers write an empty object.
bytes '\0\0\0\0\x10\0\0\0\0\0' empty.bin
expect 0 "$tavrin" convert empty.bin - --to json
printf '{\n}\n' >want.txt; same out.txt want.txt
expect 0 "$tavrin" convert empty.bin - --to xml --class Geo::Shape
contains out.txt '<Geo-Shape xmlns:xsi='
# int32 a = 1 and b = 2, as the JSON writer writes them.
bytes '\0\0\0\0\x10\x02\0\0\0\x01\0\0\0a\0\0\0\0\x01\0\0\0b\x01\0\0\0\x01\x07\x02\0\0\0\0\0\0\0\x01\0\0\0\x01\0\0\0\x02\0\0\0' ab.bin
expect 0 "$tavrin" convert ab.bin ab.json
printf '{\t"a":1,\n\t"b":2\n}\n' >want.txt; same ab.json want.txt
expect 0 "$tavrin" stat ab.bin
contains out.txt "int32: 2"
contains out.txt "name table: 2 entries"
# The bytes per section add up to the document.
expect 0 "$tavrin" stat orders.bin
total=$(sed -n '/^bytes per section:/,$p' out.txt | awk -F': ' 'NR > 1 { s += $2 } END { print s }')
[ "$total" -eq "$(wc -c <orders.bin)" ] || fail "sections add up to $total bytes"

# --- Damaged documents and bad input ------------------------------------------------------------
head -c 2000 orders.bin >cut.bin
head -c 3000 orders.json >cut.json
printf '<?xml version="1.0"?>\n<A>\n  <b>&bogus;</b>\n</A>\n' >bad.xml
bytes '\x01\0\0\0\x10\0\0\0\0\0' v1.bin
bytes '\0\0\0\0\x0c\0\0\0\0\0' kind12.bin
{ printf '\0\0\0\0\x11\0\0\0\0'; for _ in $(seq 1500); do printf '\x11\x01\0\0\0'; done
  printf '\0\0\0\0\0'; } >deep.bin  # containers nested 1,500 deep
printf '[%.0s' $(seq 1500) >deep.json
printf 'hello' >plain.txt
expect 1 "$tavrin" check cut.bin orders.bin cut.json bad.xml v1.bin kind12.bin deep.bin deep.json plain.txt
contains out.txt "orders.bin: ok (binary)"
contains out.txt "cut.bin: CException raised in QvStreamReadBinaryBuffer::"
contains out.txt "cut.json: CException raised in Tavrin::ParseString (core/tavrin/src/creaderjson.cpp, line 562); reading stopped at line"
contains out.txt "bad.xml: malformed XML (the reader would find no values); reading stopped at line 3, column 6"
contains out.txt "v1.bin: QvExceptionWrongFileVersion"
contains out.txt "kind12.bin: CException raised in Tavrin::CReaderBinary::CReaderBinary"
contains out.txt "deep.bin: CException raised in Tavrin::CContainerReader::Read"
contains out.txt "deep.json: CException raised in ParseElement"
contains out.txt "plain.txt: not a binary, JSON or XML document"
for f in cut.bin cut.json v1.bin deep.bin; do
  expect 1 "$tavrin" show "$f"
  contains err.txt "tavrin: '$f': "
  expect 1 "$tavrin" convert "$f" out.json
  [ -e out.json ] && fail "convert of $f left out.json"
done
[ -z "$(ls ./*.tmp 2>/dev/null)" ] || fail "temporary files left: $(ls ./*.tmp)"
expect 1 "$tavrin" show missing.bin;           contains err.txt "'missing.bin': no such file"
expect 1 "$tavrin" show .;                     contains err.txt "is a directory"
expect 1 "$tavrin" convert orders.bin no/dir/o.json; contains err.txt "directory 'no/dir' does not exist"
expect 1 "$tavrin" stat orders.json;           contains err.txt "stat describes binary documents"
expect 1 "$tavrin" text convert plain.txt o.txt --to 4242; contains err.txt "code page 4242 is unknown"
expect 1 "$tavrin" convert orders.json o.bin --like orders.json; contains err.txt "--like needs a binary document"
printf '[1,null]' >null.json
expect 1 "$tavrin" convert null.json null.bin; contains err.txt "element 1 of an array is null"
[ -e null.bin ] && fail "a failed convert left its output"

# --- Usage, help, version --------------------------------------------------------------------------
expect 2 "$tavrin"
expect 2 "$tavrin" frobnicate
expect 2 "$tavrin" show
expect 2 "$tavrin" show orders.bin --bogus
expect 2 "$tavrin" convert orders.bin out.dat
expect 2 "$tavrin" convert orders.bin o.json --to yaml
expect 2 "$tavrin" text convert plain.txt o.txt
for c in show convert check stat base64 text; do
  expect 0 "$tavrin" "$c" --help; contains out.txt "Usage: tavrin $c"
done
expect 0 "$tavrin" --help; contains out.txt "Commands:"
expect 0 "$tavrin" --version; contains out.txt "tavrin "

# --- Standard streams, Base64, code pages ------------------------------------------------------
"$tavrin" convert - - --to json <orders.bin >piped.json 2>err.txt || fail "convert through pipes"
same piped.json o.json
expect 0 "$tavrin" base64 encode orders.bin b64.txt --lines
awk 'length($0) > 72 { exit 1 }' b64.txt || fail "Base64 lines longer than 72"
expect 0 "$tavrin" base64 decode b64.txt decoded.bin
same orders.bin decoded.bin
printf 'hello' | "$tavrin" base64 encode >out.txt; printf 'aGVsbG8=\n' >want.txt; same out.txt want.txt
printf '@@@@' >notb64.txt
expect 1 "$tavrin" base64 decode notb64.txt; contains err.txt "not Base64 text"
printf '\xef\xbb\xbfcaf\xc3\xa9 na\xc3\xafve\n' >utf8.txt
expect 0 "$tavrin" text guess utf8.txt; contains out.txt "utf8.txt: 65001 (certain)"
printf 'caf\xc3\xa9 na\xc3\xafve\n' >nobom.txt
expect 0 "$tavrin" text convert nobom.txt w.txt --to 1252 --from 65001
printf 'caf\xe9 na\xefve\n' >want.txt; same w.txt want.txt
expect 0 "$tavrin" text convert w.txt u.txt --to 65001 --from 1252
same u.txt nobom.txt

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "tavrin: all checks passed"
