# shellcheck shell=bash
# How every entry point starts: the commands (scripts/test.sh, demo.sh, bench.sh, release.sh), each Wine table and
# the release check. Sourcing this file only defines functions.

# ROOT, as pwd -P gives it: nothing where the build takes the checkout's path; otherwise one line naming the first
# character it cannot take, and a failure. CMake, make and the presets read " # : ; < > \ |, a tab and a line end as
# their own syntax; [ ] and ? reach make's shell unquoted, as patterns that may match another checkout; $( ${ and
# $NAME{ expand, in that shell, in CMake ($ENV{, $CACHE{) or in the presets ($env{, $vendor{); Wine makes no prefix
# under a path holding *.
refuse_checkout_path() {
    local LC_ALL=C refused=$'"#*:;<>?[]\\|\t\n' at character
    for ((at = 0; at < ${#1}; at++)); do
        character=${1:at:1}
        if [[ ${1:at} =~ ^\$[A-Za-z]*[\(\{] ]]; then
            character=${BASH_REMATCH[0]}
        fi
        if [[ $refused == *"$character"* || ${#character} -gt 1 ]]; then
            character=${character/$'\t'/a tab}
            echo "The build cannot take ${character/$'\n'/a line end} in the checkout's path, so nothing was built."
            return 1
        fi
    done
}

# KIND [PARENT]: from now on this shell owns a run: a folder of its own, PARENT/desktopswitch-KIND.XXXXXX, spaces in
# KIND as hyphens (PARENT is /tmp unless given: a socket's path has at most 107 bytes, and Wine's and tmux's live
# there). It is the TMPDIR and the HOME of all the run starts, so that nothing it starts writes elsewhere. Every
# process the run starts carries its mark, DESKTOPSWITCH_RUN, even Wine's and tmux's servers, which start sessions of
# their own. Once this shell has ended, normally or by any signal, SIGKILL included, a watcher in a session of its
# own kills every marked process and removes the folder; the shell's own end does the same at once, puts the
# terminal's modes back and says which signal ended it. No tool the run starts takes the user's settings: no shell
# reads start-up files or takes the user's shell options, and Wine's variables are the run's own. Sets run_folder.
own_run() {
    local parent=${2:-/tmp}
    if ! mkdir -p "$parent" || ! run_folder=$(mktemp -d "$parent/desktopswitch-${1// /-}.XXXXXX"); then
        echo "A run needs a folder of its own in $parent, and could not make one." >&2
        return 1
    fi
    unset CDPATH BASH_ENV ENV "${!XDG_@}" "${!WINE@}"
    export -n SHELLOPTS BASHOPTS
    set +o noclobber +o allexport +o noglob
    shopt -u failglob nullglob nocaseglob dotglob
    export TMPDIR=$run_folder HOME=$run_folder DESKTOPSWITCH_RUN=$run_folder
    # shellcheck disable=SC2016  # the watcher's own arguments
    env -u DESKTOPSWITCH_RUN setsid bash -c 'source "$0"; tail --pid="$1" -f /dev/null; end_run "$2"' \
        "${BASH_SOURCE[0]}" "$$" "$run_folder" </dev/null >/dev/null 2>&1 &
    terminal_modes=
    if [ -t 0 ]; then
        terminal_modes=$(stty -g)
    fi
    stopped_by=
    trap end_own_run EXIT
    trap 'stopped_by=SIGINT; exit 130' INT
    trap 'stopped_by=SIGHUP; exit 129' HUP
    trap 'stopped_by=SIGTERM; exit 143' TERM
}
end_own_run() {
    set +e  # an ending takes every step, whichever of them fails
    disown -a  # the run's end kills its steps: the shell need not report each
    end_run "$run_folder"
    if [ -n "$terminal_modes" ]; then
        stty "$terminal_modes" 2>/dev/null
    fi
    if [ -n "$stopped_by" ]; then
        echo "Stopped by $stopped_by; every process of this run has ended." >&2
    fi
}
# FOLDER: ends the run whose folder it is: every process marked with it, however often they fork, then the folder.
# Each thread is looked at, since a process whose first thread has ended shows no environment of its own while its
# other threads run on. The caller is never among them: /proc shows a process's environment as it started, before it
# owned a run.
end_run() {
    local marked deadline=$((SECONDS + 10))
    while true; do
        mapfile -t marked < <(env -u DESKTOPSWITCH_RUN grep -lzxF -- "DESKTOPSWITCH_RUN=$1" \
            /proc/[0-9]*/task/[0-9]*/environ 2>/dev/null)
        marked=("${marked[@]#/proc/}")
        marked=("${marked[@]%%/*}")
        if [ ${#marked[@]} = 0 ]; then
            break
        fi
        if [ "$SECONDS" -ge "$deadline" ]; then
            echo "Processes of the run $1 outlived 10 s of SIGKILL: ${marked[*]}" >&2
            break
        fi
        kill -KILL "${marked[@]}" 2>/dev/null
    done
    rm -rf "$1"
    [ ${#marked[@]} = 0 ]
}
# COMMAND...: run in the background and waited for, so that a signal's trap runs at once rather than once it ends.
step() {
    "$@" &
    wait "$!"
}

# KIND: this command alone in the checkout's build tree, or one line naming the command that holds it, and a failure.
# The holder writes its process, the descriptor that holds the lock and its kind in the lock file; a refused command
# trusts that record only while that process holds that very file at that descriptor, so a record copied with a
# checkout, or one not written yet, names nobody.
hold_build_tree() {
    local holder descriptor kind
    mkdir -p build || return
    exec {build_lock}>>build/lock || return
    for _ in {1..50}; do
        if flock -n "$build_lock"; then
            echo "$$ $build_lock $1" >build/lock
            return
        fi
        read -r holder descriptor kind <build/lock || true
        if [ -n "$descriptor" ] && [ "/proc/$holder/fd/$descriptor" -ef build/lock ]; then
            echo "The $kind (process $holder) is using this checkout's build tree, so the $1 stopped;" \
                "kill $holder ends it."
            return 1
        fi
        sleep 0.1
    done
    echo "Another command is using this checkout's build tree, so the $1 stopped."
    return 1
}

# KIND [PARENT]: how a command starts, from the checkout's root: a path the build takes, a run of its own (own_run),
# the build tree to itself, and the tools it needs. What it builds, no setting in the environment steers: the presets
# give what CMake and make read an empty value, which they take as unset; what GCC and binutils read, where an empty
# value means something, is unset here.
start_command() {
    unset CPATH C_INCLUDE_PATH CPLUS_INCLUDE_PATH LIBRARY_PATH COMPILER_PATH GCC_EXEC_PREFIX DEPENDENCIES_OUTPUT \
        SUNPRO_DEPENDENCIES GNUTARGET LDEMULATION
    refuse_checkout_path "$(pwd -P)" || exit
    own_run "$1" "${2:-/tmp}" || exit
    hold_build_tree "$1" || exit
    step bash scripts/setup.sh || exit
}

# PRESET: configured from the project's root with the generator and settings the presets pin: afresh unless this
# function configured the build tree last, for this checkout, since a tree configured otherwise may hold settings of
# its own (two generators link different bytes) and a moved checkout's cache names the old path.
configure_preset() {
    local cache=build/$1/CMakeCache.txt fresh=
    if ! cmp -s "$cache" "$cache.made" || ! grep -qxF "CMAKE_HOME_DIRECTORY:INTERNAL=$(pwd -P)" "$cache"; then
        fresh=--fresh
    fi
    cmake --preset "$1" $fresh || return
    cp "$cache" "$cache.made"
}
