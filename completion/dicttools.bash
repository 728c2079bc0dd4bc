# Bash completion for dictbuild, flashprog and dictinfo: their options,
# flashprog's commands and serial ports, and file names where a file goes.
# Installed once under each program's name, so that bash-completion loads it
# when any of the three is first completed; it uses bash-completion's helpers.

# Whether a word before the current one is `--`, after which every word is
# a file.
_dicttools_after_options()
{
    local i
    for ((i = 1; i < cword; i++)); do
        [[ ${words[i]} == -- ]] && return 0
    done
    return 1
}

# The ports a -p PORT may name: COM1 and COM2, then the serial devices of
# this machine as flashprog lists them when a port cannot be opened (USB
# adapters by their lasting names first, an on-board ttyS only with a UART).
_dicttools_serial_ports()
{
    local device type=0
    local -a ports=(COM1 COM2)
    for device in /dev/serial/by-id/* /dev/ttyUSB* /dev/ttyACM* /dev/ttyS* /dev/cu.*; do
        [[ -e $device ]] || continue
        if [[ $device == /dev/ttyS* ]]; then
            type=0
            read -r type 2>/dev/null <"/sys/class/tty/${device#/dev/}/type"
            [[ $type != 0 ]] || continue
        fi
        ports+=("$device")
    done
    for device in "${ports[@]}"; do
        [[ $device == "$cur"* ]] && COMPREPLY+=("$device")
    done
    # Any other device by its path.
    [[ $cur == */* ]] && _filedir
}

_dictbuild()
{
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        -C | --directory)
            _filedir -d
            return
            ;;
        -h | --help | --version)
            return
            ;;
    esac
    $split && return

    if [[ $cur == -?* ]] && ! _dicttools_after_options; then
        mapfile -t COMPREPLY < <(compgen -W '-C --directory -h --help --version --' -- "$cur")
        return
    fi
    _filedir
} &&
    complete -F _dictbuild dictbuild

_flashprog()
{
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        -p | --port)
            _dicttools_serial_ports
            return
            ;;
        -h | --help | --version)
            return
            ;;
    esac
    $split && return

    # The command given so far: the first word that is neither an option nor
    # the port after -p.
    local i command="" options=true
    for ((i = 1; i < cword; i++)); do
        if $options && [[ ${words[i]} == -- ]]; then
            options=false
        elif $options && [[ ${words[i]} == -p || ${words[i]} == --port ]]; then
            ((i++))
        elif ! $options || [[ ${words[i]} != -* ]]; then
            command=${words[i]}
            break
        fi
    done

    if [[ $cur == -* ]] && ! _dicttools_after_options; then
        mapfile -t COMPREPLY < <(compgen -W '-p --port -q --quiet --force -h --help --version --' -- "$cur")
    elif [[ -z $command ]]; then
        mapfile -t COMPREPLY < <(compgen -W 'erase download verify save program' -- "$cur")
    elif [[ $command == @(download|verify|save|program) ]]; then
        _filedir
    fi
} &&
    complete -F _flashprog flashprog

_dictinfo()
{
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        -h | --help | --version)
            return
            ;;
    esac
    $split && return

    if [[ $cur == -?* ]] && ! _dicttools_after_options; then
        mapfile -t COMPREPLY < <(compgen -W '--linear --prom --words --diff --word-list -h --help --version --' -- "$cur")
        return
    fi
    _filedir
} &&
    complete -F _dictinfo dictinfo

# ex: filetype=sh
