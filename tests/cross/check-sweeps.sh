#!/bin/sh
# Fails unless the program holds the fast step's sweeps for ISA (neon or vsx),
# one per force law, each under its own name psys_sweep_<isa>_<law>, and each
# computes in the ISA's two-lane double registers, square roots, quotients
# and products included, without fusing a multiply and an add. The only
# fused operations allowed are NEON's quotients by a fixed divisor, two for
# each: two quotients in the starfield sweep and two in the angular one. VSX
# has none, since its lanes divide.
# Usage: check-sweeps.sh ISA OBJDUMP PROGRAM
case "$1" in
neon)
    root='\tfsqrt\tv[0-9]+\.2d' quot='\tfdiv\tv[0-9]+\.2d' prod='\tfmul\tv[0-9]+\.2d'
    fused='\tf(n?madd|n?msub|mla|mls)\t' with_fused='stf ang' ;;
vsx)
    root='\txvsqrtdp[ \t]' quot='\txvdivdp[ \t]' prod='\txvmuldp[ \t]'
    fused='\t(xv|xs)n?m(add|sub)[am]dp[ \t]|\tfn?m(add|sub)[ \t]' with_fused='' ;;
*) echo "usage: check-sweeps.sh neon|vsx OBJDUMP PROGRAM" >&2; exit 2 ;;
esac
"$2" -d --no-show-raw-insn "$3" | awk -v isa="$1" -v root="$root" -v quot="$quot" -v prod="$prod" \
    -v fused="$fused" -v with_fused="$with_fused" '
    /^[0-9a-f]+ <.*>:$/ {
        sweep = match($0, "<psys_sweep_" isa "_[a-z]+>:$")
        if (sweep) { name[++n] = substr($0, RSTART + 1, RLENGTH - 3) }
        next
    }
    !sweep { next }
    $0 ~ root { roots[n]++ }
    $0 ~ quot { quots[n]++ }
    $0 ~ prod { prods[n]++ }
    $0 ~ fused { fuseds[n]++ }
    END {
        if (n != 5) { print "expected 5 " isa " sweeps, found " n + 0; exit 1 }
        bad = 0
        for (i = 1; i <= n; i++) {
            law = substr(name[i], length("psys_sweep_" isa "_") + 1)
            allowed = index(" " with_fused " ", " " law " ") ? 4 : 0
            printf "%s: square roots %d, quotients %d, products %d, fused %d (%d allowed)\n", name[i], roots[i], quots[i], prods[i], fuseds[i], allowed
            if (!roots[i] || !quots[i] || !prods[i] || fuseds[i] != allowed) bad = 1
        }
        exit bad
    }'
