# bash completion for chipload: the window's options, the subcommands and
# their options, and the values the options take.

_chipload_ports() {
    local devices=(/dev/serial/by-id/* /dev/ttyUSB* /dev/ttyACM* /dev/ttyS*)
    local existing=() device
    for device in "${devices[@]}"; do
        [[ -e $device ]] && existing+=("$device")
    done
    echo "${existing[*]} COM1 COM2 COM3 COM4 COM5 COM6 COM7 COM8 COM9 COM10 rfc2217://"
}

_chipload() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    local commands="flash verify read erase blank-check info go protect unprotect"
    local port_options="--port --ports --baud --reset --boot0 --invert-reset --invert-boot0
                        --reset-pulse --retries --quiet"
    COMPREPLY=()

    case $prev in
        --port | --ports)
            COMPREPLY=($(compgen -W "$(_chipload_ports)" -- "$cur"))
            return
            ;;
        --reset)
            COMPREPLY=($(compgen -W "dtr rts none" -- "$cur"))
            return
            ;;
        --boot0)
            COMPREPLY=($(compgen -W "rts dtr none" -- "$cur"))
            return
            ;;
        --format)
            COMPREPLY=($(compgen -W "bin hex" -- "$cur"))
            return
            ;;
        --baud)
            COMPREPLY=($(compgen -W "9600 19200 38400 57600 115200" -- "$cur"))
            return
            ;;
        --com)
            COMPREPLY=($(compgen -W "1= 2= 3= 4= 5= 6= 7= 8= 9= 10=" -- "$cur"))
            compopt -o nospace 2>/dev/null || true
            return
            ;;
        --demo-screenshot)
            COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
        --demo-pages)
            COMPREPLY=($(compgen -d -- "$cur"))
            return
            ;;
        --lang)
            COMPREPLY=($(compgen -W "zh en" -- "$cur"))
            return
            ;;
        --address | --length | --pages | --reset-pulse | --retries)
            return
            ;;
    esac

    local command=
    ((COMP_CWORD > 1)) && [[ " $commands " == *" ${COMP_WORDS[1]} "* ]] && command=${COMP_WORDS[1]}
    if [[ -z $command ]]; then
        if ((COMP_CWORD == 1)) && [[ $cur != -* ]]; then
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "--headless --demo --demo-screenshot --demo-pages --lang --com --list-ports
                                     --version --help" -- "$cur"))
        fi
        return
    fi

    local options
    case $command in
        flash) options="--address --no-verify --mass-erase --go" ;;
        verify) options="--address" ;;
        read) options="--address --length --format" ;;
        erase) options="--all --pages" ;;
        info) options="--json" ;;
        protect | unprotect) options="--read --yes --write" ;;
        *) options= ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options $port_options" -- "$cur"))
    elif [[ $command == flash || $command == verify || $command == read ]]; then
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
}

complete -o filenames -F _chipload chipload
