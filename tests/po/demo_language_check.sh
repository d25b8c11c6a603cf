#!/bin/sh
# demo_language_check.sh CHIPLOAD english|chinese [VAR=VALUE]... [ARGUMENT]...
# Runs the headless demo job (connect, load, program, read back, run on the
# simulated board) in the given environment and checks what it printed: its
# status lines, log lines and pop-ups hold no Chinese character in English,
# and the Chinese key texts in Chinese.
set -eu
program=$1
expected=$2
shift 2
# A clean locale environment, then the run's own settings.
unset LANGUAGE LC_ALL LC_MESSAGES LANG
while [ $# -gt 0 ] && [ "${1#*=}" != "$1" ] && [ "${1#-}" = "$1" ]; do
    export "$1"
    shift
done
out=$(mktemp)
trap 'rm -f "$out"' EXIT
if ! "$program" --headless --demo "$@" >"$out" 2>&1; then
    cat "$out"
    echo "demo_language_check: the demo job failed" >&2
    exit 1
fi
# CJK ideographs and full-width punctuation, as UTF-8 bytes.
cjk=$(LC_ALL=C grep -n "$(printf '\344\|\345\|\346\|\347\|\350\|\351\|\357\274')" "$out" || true)
case $expected in
english)
    if [ -n "$cjk" ]; then
        echo "demo_language_check: Chinese text in the English run:" >&2
        echo "$cjk" >&2
        exit 1
    fi
    grep -q "Programming complete" "$out" || {
        cat "$out"
        echo "demo_language_check: no English status" >&2
        exit 1
    }
    ;;
chinese)
    grep -q "程序烧写完成" "$out" || {
        cat "$out"
        echo "demo_language_check: no Chinese status" >&2
        exit 1
    }
    ;;
esac
