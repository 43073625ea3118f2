# Turns CHANGELOG.md into a Debian changelog. Each heading
# "## VERSION (YYYY-MM-DD HH:MM UTC)" starts an entry; its "- " items become
# "  * ", and their indented continuation lines "    ".
# Usage: awk -v package=NAME -v maintainer="NAME <MAIL>" -f debian-changelog.awk CHANGELOG.md

# "Mon, 07 Dec 2026 05:05:00 +0000" from "2026-12-07 05:05 UTC"; the
# weekday by Sakamoto's method, since POSIX awk has no date functions.
function rfc2822(when,    y, m, d, offsets, days, months, w) {
    y = substr(when, 1, 4) + 0; m = substr(when, 6, 2) + 0; d = substr(when, 9, 2) + 0
    split("0 3 2 5 0 3 5 1 4 6 2 4", offsets, " ")
    split("Sun Mon Tue Wed Thu Fri Sat", days, " ")
    split("Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec", months, " ")
    w = y - (m < 3)
    w = (w + int(w / 4) - int(w / 100) + int(w / 400) + offsets[m] + d) % 7
    return sprintf("%s, %02d %s %d %s:00 +0000", days[w + 1], d, months[m], y, substr(when, 12, 5))
}

function finish() {
    if (version != "") printf "\n -- %s  %s\n", maintainer, date
}

# Changes not yet released belong to no package, whether or not their
# heading names the version to come: "## Unreleased", "## 1.5.0 (unreleased)".
/^## (Unreleased|[^ ]+ \(unreleased\))$/ { next }

/^## / {
    finish()
    if (version != "") print ""
    version = $2
    date = rfc2822(substr($0, index($0, "(") + 1))
    printf "%s (%s) unstable; urgency=medium\n\n", package, version
    next
}
version != "" && /^- / { print "  * " substr($0, 3); next }
version != "" && /^  [^ ]/ { print "    " substr($0, 3); next }
END { finish() }
