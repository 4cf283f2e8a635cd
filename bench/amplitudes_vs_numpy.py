"""trislip's amplitude spectrum against what a Python user calls instead,
numpy.abs(numpy.fft.rfft(v)) * dt, and numpy's complex transform of the same
samples (numpy.fft.fft, the work that trislip's transform does), in one
process, the three calls in turn, medians of RUNS calls each.

    python3 bench/amplitudes_vs_numpy.py RUNS    (PYTHONPATH: the trislip module)
"""
import sys
import time

import numpy as np
import trislip


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 11
    print(f"numpy {np.__version__}; medians of {runs} calls in turn")
    print(f"{'samples':>8} {'trislip':>10} {'rfft':>10} {'fft':>10} {'ratio to rfft':>14}")
    for e in (16, 20, 22):
        s = trislip.synthesize(nt=2**e, dt=0.001)
        v = np.array(s.velocity)
        calls = [lambda: trislip.amplitude_spectrum(s), lambda: np.abs(np.fft.rfft(v)) * 0.001,
                 lambda: np.abs(np.fft.fft(v)) * 0.001]
        times = [[], [], []]
        for _ in range(runs):
            for i, call in enumerate(calls):
                start = time.perf_counter()
                call()
                times[i].append(time.perf_counter() - start)
        med = [sorted(t)[len(t) // 2] * 1e3 for t in times]
        print(f"{'2^' + str(e):>8} {med[0]:8.1f} ms {med[1]:7.1f} ms {med[2]:7.1f} ms {med[0] / med[1]:14.2f}")


if __name__ == "__main__":
    main()
