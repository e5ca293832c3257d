#!/bin/sh
# Fails unless the program holds the fast step's VSX sweeps, one per force
# law, each under its own name psys_sweep_vsx_<law>, and each computes in
# VSX's two-lane double registers, square roots and quotients included,
# without fusing a multiply and an add.
# Usage: check-vsx.sh OBJDUMP PROGRAM
"$1" -d --no-show-raw-insn "$2" | awk '
    /^[0-9a-f]+ <.*>:$/ {
        sweep = match($0, /<psys_sweep_vsx_[a-z]+>:$/)
        if (sweep) { name[++n] = substr($0, RSTART + 1, RLENGTH - 3) }
        next
    }
    !sweep { next }
    /\txvsqrtdp[ \t]/ { root[n]++ }
    /\txvdivdp[ \t]/ { quot[n]++ }
    /\txvmuldp[ \t]/ { prod[n]++ }
    /\t(xv|xs)n?m(add|sub)[am]dp[ \t]|\tfn?m(add|sub)[ \t]/ { fused[n]++ }
    END {
        if (n != 5) { print "expected 5 VSX sweeps, found " n; exit 1 }
        bad = 0
        for (i = 1; i <= n; i++) {
            printf "%s xvsqrtdp %d, xvdivdp %d, xvmuldp %d, fused %d\n", name[i], root[i], quot[i], prod[i], fused[i]
            if (!root[i] || !quot[i] || !prod[i] || fused[i]) bad = 1
        }
        exit bad
    }'
