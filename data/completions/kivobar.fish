# Completion of kivobar's actions, options and waiting sessions in fish.

# The sessions that wait now, as "id<tab>description": the ids from `kivobar --status --json` (an id is a
# text with no quote or backslash in it), each described by its line of `kivobar --status`, which shows
# nothing that would act on a terminal. The two are read one after the other: when their counts differ,
# the ids go without descriptions.
function __kivobar_sessions
    set -l program (commandline -opc)[1]
    set -l ids (command $program --status --json 2>/dev/null | string match -ar '"id":"[^"]*"' | string split -f4 '"')
    set -l lines (command $program --status 2>/dev/null | string replace -rf '^needs you: ' '' | string trim -r)
    for i in (seq (count $ids))
        if test (count $lines) -eq (count $ids)
            printf '%s\t%s\n' $ids[$i] $lines[$i]
        else
            printf '%s\n' $ids[$i]
        end
    end
end

# The action given so far, if any: the first word that is neither an option nor the value of one.
function __kivobar_action
    set -l words (commandline -opc)[2..-1]
    set -l skip 0
    for word in $words
        if test $skip -eq 1
            set skip 0
        else if contains -- $word --format --timeout
            set skip 1
        else if not string match -q -- '-*' $word
            echo $word
            return 0
        end
    end
    return 1
end

function __kivobar_wants_status_options
    contains -- --status (commandline -opc); or test "$(__kivobar_action)" = status
end

function __kivobar_formats
    printf '%s\t%s\n' text 'Lines, as --status alone' json 'One JSON object' waybar "Waybar's custom module" \
        i3blocks 'An i3blocks block' polybar 'A polybar module'
end

complete -c kivobar -f
set -l no_action 'not __kivobar_action; and not contains -- --status (commandline -opc)'
complete -c kivobar -n $no_action -a pause -d 'Stop the agent'
complete -c kivobar -n $no_action -a resume -d 'Start the agent'
complete -c kivobar -n $no_action -a toggle -d 'Pause when running, resume when paused'
complete -c kivobar -n $no_action -a set-up -d 'Approve this computer, then start the agent'
complete -c kivobar -n $no_action -a update -d 'Update the agent to its newest release'
complete -c kivobar -n $no_action -a dashboard -d "Open the agent's dashboard in a terminal"
complete -c kivobar -n $no_action -a log -d "Show the agent's log"
complete -c kivobar -n $no_action -a open-session -d 'Open a waiting session'
complete -c kivobar -n $no_action -a quit -d 'Quit the running tray'
complete -c kivobar -n $no_action -a status -d 'Print the state, as --status'
complete -c kivobar -n $no_action -a help -d 'Print the help'
complete -c kivobar -n $no_action -a wait-online -d 'Wait until this computer is reachable'
complete -c kivobar -n $no_action -l status -d "Print the agent's state"
complete -c kivobar -n $no_action -l notify -d 'Say a refusal or failure of the action in a notification as well'
complete -c kivobar -n $no_action -s h -l help -d 'Print the help'
complete -c kivobar -n $no_action -s v -l version -d 'Print the version'

complete -c kivobar -n __kivobar_wants_status_options -l json -d 'Print one JSON object'
complete -c kivobar -n __kivobar_wants_status_options -l format -x -a '(__kivobar_formats)' -d 'Print as text, JSON or a status bar line'
complete -c kivobar -n __kivobar_wants_status_options -l watch -d 'Print again each time the state changes'

complete -c kivobar -n 'test "$(__kivobar_action)" = wait-online' -l timeout -x -d 'Give up after this many seconds'
complete -c kivobar -n 'test "$(__kivobar_action)" = open-session; and test (commandline -opc)[-1] = open-session' -a '(__kivobar_sessions)'
