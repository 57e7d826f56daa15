# bash completion for halvex: its commands, their options and files.
_halvex()
{
    local cur prev words cword
    _init_completion || return

    case $prev in
    --port)
        COMPREPLY=($(compgen -f -- "$cur") $(compgen -W "$(ls /dev/ttyUSB* /dev/ttyACM* /dev/ttyS* 2>/dev/null)" -- "$cur"))
        return
        ;;
    --baud)
        COMPREPLY=($(compgen -W "4800 9600 19200 38400 57600 115200" -- "$cur"))
        return
        ;;
    -o | --output | --log | --out)
        _filedir
        return
        ;;
    --timeout | --name-width | --seconds | --table)
        return
        ;;
    esac

    local options="--port --baud --timeout --verbose --version --name-width --log --keep-names --strict
        --allow-untimed --help --help-sim"
    local command="" action="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
        identify | waypoints | routes | tracks | nmea | position | time | ports | demo) [[ -z $command ]] && command=${words[i]} ;;
        get | put | watch | send) [[ -n $command ]] && action=${words[i]} ;;
        esac
    done

    if [[ $cur == -* ]]; then
        case $command/$action in
        identify/) options+=" --json" ;;
        tracks/get) options+=" -o --output --rollover" ;;
        */get) options+=" -o --output" ;;
        time/) options+=" --json" ;;
        nmea/watch) options+=" --seconds --table --raw" ;;
        position/) options+=" --nmea --count --seconds --json" ;;
        demo/) options+=" --out" ;;
        esac
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    case $command/$action in
    /) COMPREPLY=($(compgen -W "identify waypoints routes tracks nmea position time ports demo" -- "$cur")) ;;
    waypoints/ | routes/ | tracks/) COMPREPLY=($(compgen -W "get put" -- "$cur")) ;;
    nmea/) COMPREPLY=($(compgen -W "watch send" -- "$cur")) ;;
    */put) _filedir gpx ;;
    ports/) _filedir ;;
    esac
}
complete -F _halvex halvex
