#!/bin/sh
# Fails unless the program holds the fast step's NEON sweeps, one per force
# law, each under its own name psys_sweep_neon_<law>, and each computes in
# NEON's two-lane double registers, square roots included, without fusing a
# multiply and an add: the only fused operations are those of the quotients
# by a fixed divisor, two for each, in the starfield sweep
# (psys_sweep_neon_stf) and the angular one (psys_sweep_neon_ang), two
# quotients each.
# Usage: check-neon.sh OBJDUMP PROGRAM
"$1" -d --no-show-raw-insn "$2" | awk '
    /^[0-9a-f]+ <.*>:$/ {
        sweep = match($0, /<psys_sweep_neon_[a-z]+>:$/)
        if (sweep) { name[++n] = substr($0, RSTART + 1, RLENGTH - 3) }
        next
    }
    !sweep { next }
    /\tfsqrt\tv[0-9]+\.2d/ { root[n]++ }
    /\tfdiv\tv[0-9]+\.2d/ { quot[n]++ }
    /\tfmul\tv[0-9]+\.2d/ { prod[n]++ }
    /\tf(n?madd|n?msub|mla|mls)\t/ { fused[n]++ }
    END {
        if (n != 5) { print "expected 5 NEON sweeps, found " n; exit 1 }
        bad = 0
        for (i = 1; i <= n; i++) {
            printf "%s fsqrt.2d %d, fdiv.2d %d, fmul.2d %d, fused %d\n", name[i], root[i], quot[i], prod[i], fused[i]
            if (!root[i] || !quot[i] || !prod[i] || fused[i] != (name[i] == "psys_sweep_neon_stf" || name[i] == "psys_sweep_neon_ang" ? 4 : 0)) bad = 1
        }
        exit bad
    }'
