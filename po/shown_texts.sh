#!/bin/sh
# shown_texts.sh SOURCE_DIR OUTPUT.pot
# Every Chinese text the program can show, as a gettext template: the string
# literals of the window's code (app/, serial/, the engine and its front ends)
# and the texts of the panel file. Update the catalog with
#   po/shown_texts.sh . /tmp/chipload.pot && msgmerge -U po/en.po /tmp/chipload.pot
set -eu
src=$1
out=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The panel file's texts, written out as C string literals so that xgettext
# reads them with the sources (jq's JSON strings are valid C literals here).
jq -r '.. | objects | (.label?, .title?, .on_text?, .off_text?) | strings | @json + ";"' \
    "$src/ui/ChipLoad.uir" >"$work/panel_texts.c"

(cd "$src" && find app serial platform/rte/src platform/qt/src -name '*.cpp' -o -name '*.h' |
    LC_ALL=C sort) >"$work/files"
echo "$work/panel_texts.c" >>"$work/files"

# xgettext warns about every literal it is not meant for (empty, ASCII, '\r'):
# its messages are shown only when it fails.
if ! (cd "$src" && xgettext --extract-all --language=C++ --from-code=UTF-8 --no-wrap \
    --sort-by-file --files-from="$work/files" -o "$work/all.pot") 2>"$work/log"; then
    cat "$work/log" >&2
    exit 1
fi

# Only the Chinese ones: an ASCII literal is a name, a format or a path, not a
# text of the window.
msggrep --msgid --extended-regexp --regexp='[^ -~[:cntrl:]]' --no-wrap \
    "$work/all.pot" -o "$work/shown.pot"
sed "s|$work/panel_texts.c|ui/ChipLoad.uir|" "$work/shown.pot" >"$out"
