# fish completion for cliptint(1): --help or --version, or --file IN OUT (file names) as the first
# three words, or --batch as the first word, then the mode word. --batch and --file count only as
# the first word, so they are not offered anywhere else.

# What the word being completed is: "first", "file" (IN or OUT), "mode", or "none".
function __cliptint_expects
    set -l words (commandline -opc)[2..-1]
    if test "$words[1]" = --file
        if test (count $words) -lt 3
            echo file
            return
        end
        set words $words[4..-1]
    else if test "$words[1]" = --batch
        set words $words[2..-1]
    else if test (count $words) -eq 0
        echo first
        return
    end
    if test (count $words) -eq 0
        echo mode
    else
        echo none
    end
end

complete -c cliptint -f
complete -c cliptint -n 'test (__cliptint_expects) = first' -s h -l help -d 'Show a short usage text'
complete -c cliptint -n 'test (__cliptint_expects) = first' -s V -l version -d 'Show the version'
complete -c cliptint -n 'test (__cliptint_expects) = first' -l file \
    -d 'Read the picture from the file IN, write a painted one to OUT'
complete -c cliptint -n 'test (__cliptint_expects) = first' -l batch \
    -d 'Answer each line IN<tab>OUT of standard input as --file IN OUT would'
complete -c cliptint -n 'contains -- (__cliptint_expects) first mode' -a probe \
    -d 'Tell whether the picture is one colour on a clear ground'
complete -c cliptint -n 'contains -- (__cliptint_expects) first mode' -a paint \
    -d 'Give a one-colour picture a new colour'
complete -c cliptint -n 'test (__cliptint_expects) = file' -F
