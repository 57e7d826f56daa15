# bash completion for halvex: its commands, their options and files. It
# needs nothing but bash: the bash-completion package's helpers are used
# where they are loaded.
_halvex_files() { # [extension]: files and folders
    if declare -F _filedir >/dev/null; then
        _filedir "$@"
        return
    fi
    local IFS=$'\n'
    COMPREPLY=($(compgen -f -- "$cur"))
    compopt -o filenames 2>/dev/null
}

_halvex()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local -a words=("${COMP_WORDS[@]}")
    local cword=$COMP_CWORD

    case $prev in
    --port)
        COMPREPLY=($(compgen -f -- "$cur") $(compgen -W "$(ls /dev/ttyUSB* /dev/ttyACM* /dev/ttyS* 2>/dev/null)" -- "$cur"))
        return
        ;;
    --baud)
        COMPREPLY=($(compgen -W "auto 4800 9600 19200 38400 57600 115200" -- "$cur"))
        return
        ;;
    --pace-baud | --sim-baud)
        COMPREPLY=($(compgen -W "4800 9600 19200 38400 57600 115200" -- "$cur"))
        return
        ;;
    --preset)
        COMPREPLY=($(compgen -W "classic modern" -- "$cur"))
        return
        ;;
    --rollover)
        COMPREPLY=($(compgen -W "auto 0 1 2" -- "$cur"))
        return
        ;;
    -o | --output | --log | --out | --nmea-file)
        _halvex_files
        return
        ;;
    --timeout | --name-width | --seconds | --table | --count | --product-id | --software-version | --description | \
        --protocols | --waypoint-type | --route-type | --week-rollovers | --pvt-period | --latitude | --longitude | \
        --east | --north | --clock-* | --nmea-rate | --nmea-count | --drop-* | --seed | --corrupt-* | --resend-ms | \
        --mute-after | --nak-nth | --ack-delay | --silent-after | --noise | --chunk | --hang-up-after | --sim-track-points | --sim-baud)
        return
        ;;
    esac

    local options="--port --baud --timeout --verbose --version --name-width --log --keep-names --strict
        --renumber --allow-untimed --help --help-sim"
    # The built-in simulator's (halvex --help-sim).
    options+=" --preset --product-id --software-version --description --protocols --waypoint-type --route-type
        --week-rollovers --pace-baud --pvt-period --latitude --longitude --east --north --clock-seconds
        --clock-leap-seconds --clock-days --nmea --nmea-rate --nmea-count --nmea-file --nmea-live --drop-nth
        --drop-fraction --seed --corrupt-nth --corrupt-fraction --resend-ms --mute-after --nak-nth --ack-delay
        --silent --silent-after --noise --chunk --hang-up-after --sim-track-points --sim-baud --text"
    local command="" action="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
        identify | waypoints | routes | tracks | nmea | position | time | ports | detect | demo) [[ -z $command ]] && command=${words[i]} ;;
        get | put | watch | send) [[ -n $command ]] && action=${words[i]} ;;
        esac
    done

    if [[ $cur == -* ]]; then
        case $command/$action in
        identify/ | detect/) options+=" --json" ;;
        ports/) options+=" --probe" ;;
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
    /) COMPREPLY=($(compgen -W "identify waypoints routes tracks nmea position time ports detect demo" -- "$cur")) ;;
    waypoints/ | routes/ | tracks/) COMPREPLY=($(compgen -W "get put" -- "$cur")) ;;
    nmea/) COMPREPLY=($(compgen -W "watch send" -- "$cur")) ;;
    */put) _halvex_files gpx ;;
    ports/) _halvex_files ;;
    esac
}
complete -F _halvex halvex
