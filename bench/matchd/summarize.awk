# Summary of scripts/bench-matchd.sh output: per server, load and client count, the medians over
# the rounds of the data rate, of the data served per CPU-second of the server, of its CPU share
# and of the median and 99th-percentile answer times.
#   awk -f bench/matchd/summarize.awk OUTPUT | sort -k2,2 -k3n
/^(loop|echo|threads) / {
    for (i = 2; i <= NF; i++) {
        split($i, kv, "=")
        v[kv[1]] = kv[2]
    }
    key = $1 " " v["load"] " " v["clients"]
    k = ++n[key]
    keys[key] = 1
    rate[key, k] = v["data_MBps"]
    perCpu[key, k] = v["server_cpu_pct"] > 0 ? v["data_MBps"] / (v["server_cpu_pct"] / 100) : 0
    cpu[key, k] = v["server_cpu_pct"]
    p50[key, k] = v["median_ms"]
    p99[key, k] = v["p99_ms"]
}
function median(values, key, count,    i, j, t, a) {
    for (i = 1; i <= count; i++)
        a[i] = values[key, i] + 0
    for (i = 1; i <= count; i++)
        for (j = i + 1; j <= count; j++)
            if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
    return a[int((count + 1) / 2)]
}
END {
    for (key in keys)
        printf "%-22s rounds=%d data_MBps=%.1f MB_per_server_cpu_s=%.0f server_cpu_pct=%.1f " \
               "median_ms=%.3f p99_ms=%.2f\n", key, n[key], median(rate, key, n[key]),
               median(perCpu, key, n[key]), median(cpu, key, n[key]), median(p50, key, n[key]),
               median(p99, key, n[key])
}
