#!/bin/sh
# catalog_check.sh SOURCE_DIR
# Fails, naming each one with its file and line, when a Chinese text the
# program can show has no English entry in po/en.po, or when an English entry
# is still Chinese.
set -eu
src=$1
pot=$(mktemp)
trap 'rm -f "$pot"' EXIT
"$src/po/shown_texts.sh" "$src" "$pot"
status=0
if ! msgcmp "$src/po/en.po" "$pot" 2>"$pot.log"; then
    # msgcmp names lines of the template: show each entry with its source.
    echo "catalog_check: these texts have no English entry in po/en.po:" >&2
    sed -n 's/^[^:]*:\([0-9]*\): this message is used but not defined.*/\1/p' "$pot.log" |
        while read -r line; do
            awk -v end="$line" '/^#:/ { entry = "" } { entry = entry $0 "\n" }
                NR == end { printf "%s", entry; exit }' "$pot" >&2
        done
    echo "Add them with: po/shown_texts.sh . chipload.pot && msgmerge -U po/en.po chipload.pot" >&2
    status=1
fi
rm -f "$pot.log"
untranslated=$(msggrep --msgstr --extended-regexp --regexp='[^ -~[:cntrl:]]' --no-wrap "$src/po/en.po" |
    grep '^msgid "[^"]' || true)
if [ -n "$untranslated" ]; then
    echo "catalog_check: these entries' English text holds non-ASCII characters:" >&2
    echo "$untranslated" >&2
    status=1
fi
exit $status
