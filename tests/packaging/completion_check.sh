#!/usr/bin/env bash
# The bash completion offers what a user typing these lines should see.
# completion_check.sh COMPLETION_FILE
set -euo pipefail
source "$1"

failures=0
expect() {  # expect "<words typed>" "<completions>"
    local typed=$1 wanted=$2
    read -r -a COMP_WORDS <<<"$typed"
    [[ $typed == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _chipload
    local got="${COMPREPLY[*]}"
    if [[ $got != "$wanted" ]]; then
        echo "'$typed': got '$got', wanted '$wanted'"
        failures=$((failures + 1))
    fi
}

expect "chipload " "flash verify read erase blank-check info go protect unprotect"
expect "chipload b" "blank-check"
expect "chipload u" "unprotect"
expect "chipload protect --w" "--write"
expect "chipload unprotect --re" "--read --reset --reset-pulse --retries"
expect "chipload --v" "--version"
expect "chipload --list" "--list-ports"
expect "chipload flash app.hex --no" "--no-verify"
expect "chipload flash app.hex --invert-" "--invert-reset --invert-boot0"
expect "chipload read out.hex --format " "bin hex"
expect "chipload erase --" "--all --pages --port --ports --baud --reset --boot0 --invert-reset --invert-boot0 --reset-pulse --retries --quiet"
expect "chipload info --j" "--json"
expect "chipload go --reset " "dtr rts none"
expect "chipload go --boot0 r" "rts"
expect "chipload info --port COM1" "COM1 COM10"
expect "chipload --com " "1= 2= 3= 4= 5= 6= 7= 8= 9= 10="
expect "chipload blank-check --address " ""
((failures == 0))
