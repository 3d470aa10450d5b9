# Turns the text that `gdbus call` prints (GVariant text format) into lines a shell can read.
#
#   awk -v mode=values -f gvariant.awk   every string, number and boolean of the reply, one a line
#   awk -v mode=layout -f gvariant.awk   the items of a com.canonical.dbusmenu GetLayout reply, one a
#                                        line, parents before their children:
#       id TAB parent-id TAB type TAB visible TAB enabled TAB toggle-state TAB label
#
# The label is the one a panel shows: "_" before a letter marks a mnemonic and is dropped, "__"
# stands for one "_". Control characters (printed by gdbus as \n, \t, \uXXXX) become blanks, so a
# line is always one item. Properties an item leaves out get dbusmenu's defaults, except that a
# missing toggle-state is "-": no field is ever empty, so bash's read with IFS=TAB keeps columns apart.
# Plain POSIX awk, byte-wise: Debian's default mawk runs it, and UTF-8 text passes through whole
# because no byte of a multi-byte character equals an ASCII delimiter.
# Exits with 2 and a message on standard error when the text is not what it should be.

{ text = text $0 "\n" }

END {
    tokenize(text)
    pos = 1
    if (mode == "layout")
        layout()
    else
        values()
    exit failed
}

# ---------------------------------------------------------------- tokens

# kind[i] is "p" (punctuation), "s" (a string, unescaped), "w" (number, boolean or keyword) or
# "t" (a type annotation, which carries no value: "uint32", "objectpath", "@a{sv}", ...).
function tokenize(s,    n, i, j, c, q, out, e) {
    n = length(s)
    i = 1
    ntok = 0
    while (i <= n) {
        c = substr(s, i, 1)
        if (c == " " || c == "\t" || c == "\n" || c == "\r") {
            i++
        } else if (index("()[]{}<>,:", c)) {
            add("p", c)
            i++
        } else if (c == "'" || c == "\"") {
            # gdbus quotes with ' unless the text holds a ', and then with ".
            q = c
            out = ""
            i++
            while (i <= n && (c = substr(s, i, 1)) != q) {
                if (c == "\\") {
                    e = substr(s, i + 1, 1)
                    i += 2
                    if (e == "u") {
                        out = out character(hex(substr(s, i, 4)))
                        i += 4
                    } else if (e == "U") {
                        out = out character(hex(substr(s, i, 8)))
                        i += 8
                    } else if (index("abfnrtv", e)) {
                        out = out " "
                    } else {
                        out = out e
                    }
                } else {
                    out = out c
                    i++
                }
            }
            if (i > n)
                fail("a string is not closed")
            i++
            add("s", out)
        } else if (c == "@") {
            # A type such as @a{sv} holds braces, so it runs to the next blank.
            j = i
            while (j <= n && index(" \t\n\r", substr(s, j, 1)) == 0)
                j++
            add("t", substr(s, i, j - i))
            i = j
        } else {
            j = i
            while (j <= n && index(" \t\n\r()[]{}<>,:'\"", substr(s, j, 1)) == 0)
                j++
            c = substr(s, i, j - i)
            add(c ~ /^(byte|int16|uint16|int32|uint32|int64|uint64|double|handle|objectpath|signature|boolean|string)$/ ? "t" : "w", c)
            i = j
        }
    }
}

function add(k, t) {
    ntok++
    kind[ntok] = k
    tok[ntok] = t
}

function hex(digits,    i, v) {
    v = 0
    digits = tolower(digits)
    for (i = 1; i <= length(digits); i++)
        v = v * 16 + index("0123456789abcdef", substr(digits, i, 1)) - 1
    return v
}

# The UTF-8 bytes of a code point; control characters become a blank.
function character(cp) {
    if (cp < 32 || cp == 127)
        return " "
    if (cp < 128)
        return sprintf("%c", cp)
    if (cp < 2048)
        return sprintf("%c%c", 192 + int(cp / 64), 128 + cp % 64)
    if (cp < 65536)
        return sprintf("%c%c%c", 224 + int(cp / 4096), 128 + int(cp / 64) % 64, 128 + cp % 64)
    return sprintf("%c%c%c%c", 240 + int(cp / 262144), 128 + int(cp / 4096) % 64,
                   128 + int(cp / 64) % 64, 128 + cp % 64)
}

function fail(why) {
    if (!failed)
        printf "gvariant.awk: %s (near token %d of %d)\n", why, pos, ntok > "/dev/stderr"
    failed = 2
    exit failed
}

function expect(t) {
    if (pos > ntok || kind[pos] != "p" || tok[pos] != t)
        fail("expected '" t "', found '" tok[pos] "'")
    pos++
}

function skip_type() {
    if (pos <= ntok && kind[pos] == "t")
        pos++
}

# ---------------------------------------------------------------- values

function values(    i) {
    for (i = 1; i <= ntok; i++)
        if (kind[i] == "s" || kind[i] == "w")
            print tok[i]
}

# One value of any type; a container or variant comes back as its scalars joined by blanks.
function value(    depth, out, t) {
    skip_type()
    if (pos > ntok)
        fail("a value is missing")
    if (kind[pos] != "p") {
        pos++
        return tok[pos - 1]
    }
    if (!index("([{<", tok[pos]))
        fail("unexpected '" tok[pos] "'")
    depth = 0
    out = ""
    do {
        t = tok[pos]
        if (kind[pos] == "p" && index("([{<", t))
            depth++
        else if (kind[pos] == "p" && index(")]}>", t))
            depth--
        else if (kind[pos] == "s" || kind[pos] == "w")
            out = out (out == "" ? "" : " ") t
        pos++
    } while (depth > 0 && pos <= ntok)
    if (depth > 0)
        fail("a value is not closed")
    return out
}

# ---------------------------------------------------------------- dbusmenu layout

# The reply is (uint32 revision, (id, {properties}, [<child>, ...])).
function layout() {
    expect("(")
    skip_type()
    pos++
    expect(",")
    item(-1)
    expect(")")
}

# awk has no local variables except parameters, hence the long list.
function item(parent,    id, key, v, type, visible, enabled, toggle, label) {
    expect("(")
    if (kind[pos] != "w")
        fail("an item has no id")
    id = tok[pos++]
    expect(",")
    type = "standard"
    visible = "true"
    enabled = "true"
    toggle = "-"
    label = ""
    skip_type()
    expect("{")
    while (pos <= ntok && tok[pos] != "}") {
        if (kind[pos] != "s")
            fail("a property has no name")
        key = tok[pos++]
        expect(":")
        v = value()
        if (key == "type") type = v
        else if (key == "visible") visible = v
        else if (key == "enabled") enabled = v
        else if (key == "toggle-state") toggle = v
        else if (key == "label") label = v
        if (tok[pos] == ",")
            pos++
    }
    expect("}")
    printf "%s\t%s\t%s\t%s\t%s\t%s\t%s\n", id, parent, type, visible, enabled, toggle, shown(label)
    expect(",")
    skip_type()
    expect("[")
    while (pos <= ntok && tok[pos] != "]") {
        expect("<")
        skip_type()
        item(id)
        expect(">")
        if (tok[pos] == ",")
            pos++
    }
    expect("]")
    expect(")")
}

# The label as shown: "_x" is x with a mnemonic, "__" is "_".
function shown(label,    out, i, n, c) {
    out = ""
    n = length(label)
    for (i = 1; i <= n; i++) {
        c = substr(label, i, 1)
        if (c == "_" && i < n)
            c = substr(label, ++i, 1)
        out = out c
    }
    return out
}
