# Code in the manual page as it is typed. lowdown leaves hyphens and single
# quotes in code blocks (.EX to .EE) and code spans (\fC to \fR) as they
# are, which roff may print as a typographic hyphen and a closing quote,
# breaking a command copied from the page: they become \- and \(aq, the
# ASCII characters on every renderer (a later lowdown's \- stays as it is).
function typed(text) {
    gsub(/\\-/, "\001", text)
    gsub(/-/, "\001", text)
    gsub(/\001/, "\\-", text)
    gsub(/'/, "\\(aq", text)
    return text
}
/^\.EX$/ { block = 1; print; next }
/^\.EE$/ { block = 0; print; next }
block { print typed($0); next }
{
    # Spans may run over several lines: span says whether one is open.
    out = ""
    rest = $0
    while (rest != "") {
        mark = span ? "\\fR" : "\\fC"
        at = index(rest, mark)
        if (at == 0) { out = out (span ? typed(rest) : rest); break }
        head = substr(rest, 1, at - 1)
        out = out (span ? typed(head) : head) mark
        rest = substr(rest, at + 3)
        span = !span
    }
    print out
}
