# Writes the manual page oskavi(1) from README.md, so that the usage text, the
# option table, the exit statuses and the environment variables have a
# single source. Taken from the README: the opening paragraph (DESCRIPTION)
# and every level-2 section from "Usage" up to the first one not listed in
# `sections` below. Markdown handled: headings, paragraphs, fenced code,
# "- " bullets, `code` spans and pipe tables (first column as the tag).
#
#   awk -v version=1.0.1 -f tools/readme_to_man.awk README.md > oskavi.1

BEGIN {
    sections["Usage"] = 1
    sections["Exit status"] = 1
    sections["Environment variables"] = 1
    print ".TH OSKAVI 1 \"\" \"oskavi " version "\" \"User Commands\""
    print ".SH NAME"
    print "oskavi \\- command-line AC\\-3 (ATSC A/52) encoder"
    state = "title"
}

# Roff escapes, then `code` spans in bold.
function inline(text,    out, start) {
    gsub(/\\/, "\\e", text)
    gsub(/-/, "\\-", text)
    out = ""
    while ((start = index(text, "`")) > 0) {
        out = out substr(text, 1, start - 1) "\\fB"
        text = substr(text, start + 1)
        start = index(text, "`")
        if (start == 0) { start = length(text) + 1 }
        out = out substr(text, 1, start - 1) "\\fR"
        text = substr(text, start + 1)
    }
    return out text
}

# A text line must not start with a control character.
function emit(text) {
    if (text ~ /^[.']/) { text = "\\&" text }
    print text
}

function trim(text) {
    sub(/^[ \t]+/, "", text)
    sub(/[ \t]+$/, "", text)
    return text
}

function table_row(line,    cells, n, i, tag, body) {
    n = split(line, cells, "|")
    # cells[1] and cells[n] are the empty text outside the outer bars.
    if (trim(cells[2]) ~ /^-+$/) { return }
    if (!header_seen) {
        header_seen = 1
        for (i = 2; i < n; ++i) { header[i] = trim(cells[i]) }
        return
    }
    tag = inline(trim(cells[2]))
    body = ""
    for (i = 3; i < n; ++i) {
        if (trim(cells[i]) == "") { continue }
        if (i == 3 && n > 4 && header[i] == "Default") { continue }
        body = body (body == "" ? "" : " ") inline(trim(cells[i]))
    }
    if (n > 4 && header[3] == "Default" && trim(cells[3]) != "") {
        body = body " (default: " inline(trim(cells[3])) ")"
    }
    print ".TP"
    emit(tag)
    emit(body)
}

# The opening paragraph of the README becomes the description.
state == "title" { if ($0 ~ /^# /) { state = "intro"; print ".SH DESCRIPTION" }; next }
state == "intro" {
    if ($0 == "" && printed_intro) { state = "skip"; next }
    if ($0 != "") { emit(inline($0)); printed_intro = 1 }
    next
}

/^## / {
    name = substr($0, 4)
    if (name in sections) { state = "copy"; print ".SH " toupper(name) }
    else if (state == "copy") { state = "done" }
    next
}
state != "copy" { next }

/^```/ {
    if (in_code) { print ".fi"; in_code = 0 } else { print ".PP"; print ".nf"; in_code = 1 }
    next
}
in_code { emit(inline($0)); next }

/^### / { print ".SS " inline(substr($0, 5)); next }
/^\|/ { if (!in_table) { in_table = 1; header_seen = 0 }; table_row($0); next }
/^- / { print ".IP \\(bu 2"; emit(inline(substr($0, 3))); in_list = 1; next }
/^$/ { in_table = 0; in_list = 0; paragraph = 1; next }
{
    if (paragraph || in_table) { print (in_list ? "" : ".PP"); paragraph = 0; in_table = 0 }
    emit(in_list ? inline(trim($0)) : inline($0))
}
