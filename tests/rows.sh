# shellcheck shell=bash
# A table's rows and their report, for the Wine tables and the release check, which set these first: out, the
# row's files (problems go to a file, so that a pipeline's side can report too), row_bound and table_deadline.
: "${out:?}" "${row_bound:?}" "${table_deadline:?}"

# WHAT: the table could not be set up, so it ends here, failed, saying nothing of the program.
set_up_failed() {
    echo "set-up: $*"
    exit 2
}
# The row's start: no files of the last row, and its deadline, the earlier of its bound and the table's.
new_row() {
    rm -f "$out".*
    started=$SECONDS
    deadline=$((started + row_bound < table_deadline ? started + row_bound : table_deadline))
}
problem() { echo "$*" >>"$out.problems"; }
# WHAT EXPECTED GOT
same() {
    if [ "$2" != "$3" ]; then
        problem "$1: expected [$2], got [$3]"
    fi
}
# WHAT COMMAND...: waits until COMMAND succeeds; past the row's deadline, reports that WHAT never came, as a hang.
within() {
    until "${@:2}"; do
        if [ "$SECONDS" -ge "$deadline" ]; then
            problem "hang: $1 within $row_bound s"
            return 1
        fi
        sleep 0.1
    done
}
# NAME: ok, or not ok with the problems. A hang ends the table, as any failure does with E2E_FAIL_FAST set.
report() {
    rows=$((rows + 1))
    if [ ! -s "$out.problems" ]; then
        echo "ok $rows - $1 ($((SECONDS - started)) s)"
        return
    fi
    echo "not ok $rows - $1 ($((SECONDS - started)) s)"
    sed 's/^/    /' "$out.problems"
    failed=$((failed + 1))
    if [ -n "${E2E_FAIL_FAST:-}" ] || grep -q '^hang: ' "$out.problems"; then
        finish
    fi
}
finish() {
    echo "$((rows - failed)) passed, $failed failed"
    exit $((failed > 0))
}
rows=0 failed=0 started=$SECONDS
