"""The Python module against its contract: keyword-only parameters with the
program's defaults, read-only float64 arrays, the padded spectrum, and
errors that name the parameter."""
import math

import numpy as np
import pytest

import trislip

DEFAULTS = dict(dt=0.005, nt=4096, dmax=1.0, fmax=10.0, tr=1.633, ar=0.95, nv=8)


def test_defaults_are_the_programs_and_arrays_are_read_only():
    s = trislip.synthesize()
    assert trislip.__version__ == "1.1.0"
    assert s.parameters == DEFAULTS
    for name in ("time", "velocity", "displacement", "acceleration"):
        a = getattr(s, name)
        assert isinstance(a, np.ndarray) and a.dtype == np.float64 and a.shape == (4096,)
        with pytest.raises(ValueError):
            a[0] = 1.0
    # Sample 101 (t = 0.5 s) of Tri_Slip.csv, "0.4670853", as its exact double.
    assert s.velocity[100] == float.fromhex("0x1.de4b9b80ca4b6p-2")
    assert s.time[4095] == 4095 * 0.005
    a = trislip.amplitude_spectrum(s)
    assert a.frequency.shape == a.velocity.shape == a.acceleration.shape == (2048,)
    assert not a.velocity.flags.writeable
    # Record 86 of Tri_Amp.csv: 4.1504 Hz, 0.1891, 4.930.
    assert (round(a.frequency[85], 4), round(a.velocity[85], 4), round(a.acceleration[85], 3)) == (
        4.1504, 0.1891, 4.930)


def test_padding_to_a_power_of_two_and_the_computed_zero_frequency():
    s = trislip.synthesize(nt=6000, dt=0.0025, tr=1.5, ar=0.9, nv=6)
    assert s.velocity.shape == (6000,)
    a = trislip.amplitude_spectrum(s)
    assert a.frequency.shape == (4096,)
    assert a.frequency[1] == pytest.approx(1 / (8192 * 0.0025), rel=1e-9)
    assert a.velocity[0] == pytest.approx(abs(math.fsum(s.velocity)) * 0.0025, rel=1e-12)
    assert a.acceleration[0] == 0.0


@pytest.mark.parametrize("change, says", [
    (dict(dt=0.0), "dt = 0: must be finite and > 0"),
    (dict(dt=math.inf), "dt = inf: must be finite and > 0"),
    (dict(nt=1), "nt = 1: must be from 2 to 67108864"),
    (dict(nt=2**40), "nt = 1099511627776: must be from 2 to 67108864"),
    (dict(dmax=-1.0), "dmax = -1: must be finite and > 0"),
    (dict(fmax=math.nan), "fmax = nan: must be finite and > 0"),
    (dict(tr=1.0), "tr = 1: must be finite and > 1"),
    (dict(ar=-0.5), "ar = -0.5: must be finite and >= 0"),
    (dict(nv=0), "nv = 0: must be from 1 to 64"),
    (dict(nv=65), "nv = 65: must be from 1 to 64"),
])
def test_bad_values_raise_value_error_naming_the_parameter(change, says):
    with pytest.raises(ValueError, match="^" + says.replace("+", r"\+") + "$"):
        trislip.synthesize(**change)


@pytest.mark.parametrize("limit", [dict(nt=2), dict(ar=0.0), dict(nv=64)])
def test_the_limits_themselves_are_accepted(limit):
    s = trislip.synthesize(**limit)
    assert s.parameters[next(iter(limit))] == next(iter(limit.values()))
    assert np.all(np.isfinite(trislip.amplitude_spectrum(s).velocity))


@pytest.mark.parametrize("call", [
    lambda: trislip.synthesize(0.005),  # keyword-only
    lambda: trislip.synthesize(dt="0.005"),
    lambda: trislip.synthesize(nt=4096.0),
    lambda: trislip.amplitude_spectrum(np.zeros(8)),
])
def test_wrong_types_raise_type_error(call):
    with pytest.raises(TypeError):
        call()


def test_values_are_the_cpp_librarys_bit_for_bit(tmp_path):
    """trislip-custom --format full writes the C++ library's doubles as texts
    that read back exactly; the module must give the same bits."""
    import os
    import subprocess
    program = os.environ.get("TRISLIP_CUSTOM")
    if not program:
        pytest.skip("TRISLIP_CUSTOM is not set")
    args = dict(nt=8192, dt=0.0025, tr=1.5, ar=0.9, nv=6)
    subprocess.run([program, "--format", "full", "--quiet", "--output-dir", str(tmp_path)]
                   + [f"--{k}={v}" for k, v in args.items()], check=True)
    s = trislip.synthesize(**args)
    a = trislip.amplitude_spectrum(s)
    slip = np.loadtxt(tmp_path / "Tri_Slip.csv", delimiter=",", skiprows=1)
    amp = np.loadtxt(tmp_path / "Tri_Amp.csv", delimiter=",", skiprows=1)
    for got, column in [(s.time, slip[:, 0]), (s.velocity, slip[:, 1]), (s.displacement, slip[:, 2]),
                        (s.acceleration, slip[:, 3]), (a.frequency, amp[:, 0]),
                        (a.velocity, amp[:, 1]), (a.acceleration, amp[:, 2])]:
        assert np.array_equal(got.view(np.uint64), column.view(np.uint64))


def test_sampling_warnings_and_exports(tmp_path):
    """The checks' results ride on the series; exports read back as their
    readers read them (SW4's free-format numbers, SAC's header words)."""
    assert trislip.synthesize().warnings == {}
    short = trislip.synthesize(nt=100)
    assert sorted(short.warnings) == ["record_too_short", "slip_lost"]
    assert "raise nt to at least 621" in short.warnings["record_too_short"]
    assert sorted(trislip.synthesize(fmax=1000.0).warnings) == ["slip_lost", "step_too_coarse"]

    s = trislip.synthesize(nt=1000)
    trislip.export(s, "sw4", str(tmp_path / "sw4.txt"))
    numbers = (tmp_path / "sw4.txt").read_text().split()
    assert (float(numbers[0]), float(numbers[1]), int(numbers[2])) == (0.0, 0.005, 1000)
    slip = np.array([float(x) for x in numbers[3:]])
    assert np.array_equal(slip.view(np.uint64), (s.displacement / 1.0).view(np.uint64))

    trislip.export(s, "sac", str(tmp_path / "a.sac"), quantity="acceleration", seed_id="IU.ABCDE.00",
                   start_time="2010-02-27T06:34:14")
    raw = (tmp_path / "a.sac").read_bytes()
    ints = np.frombuffer(raw[280:440], dtype="<i4")
    assert (ints[0], ints[1], ints[6], ints[9], ints[16]) == (2010, 58, 6, 1000, 8)
    assert raw[440:448] == b"ABCDE   "
    assert np.array_equal(np.frombuffer(raw[632:], dtype="<f4"), s.acceleration.astype(np.float32))

    for call, says in [
        (lambda: trislip.export(s, "segy", str(tmp_path / "x")), "unknown export format"),
        (lambda: trislip.export(s, "sac", str(tmp_path / "x"), quantity="slip"), "quantity = slip"),
        (lambda: trislip.export(s, "sw4", str(tmp_path / "x"), quantity="velocity"), "only the sac format"),
        (lambda: trislip.export(s, "mseed", str(tmp_path / "x"), seed_id="X"), "must be NET.STA.LOC"),
        (lambda: trislip.export(trislip.synthesize(nt=6), "sw4", str(tmp_path / "x")), "at least 7 samples"),
    ]:
        with pytest.raises(ValueError, match=says):
            call()
    with pytest.raises(RuntimeError, match="cannot create"):
        trislip.export(s, "pylith", str(tmp_path / "no" / "such.timedb"))
    # Small enough to be buffered whole: the failure comes at the close.
    with pytest.raises(RuntimeError, match="No space left"):
        trislip.export(trislip.synthesize(nt=16), "sw4", "/dev/full")


def test_srf_from_a_python_rupture_model(tmp_path):
    points = [dict(lon=-118.0 + 0.01 * i, lat=34.0, depth_km=8.0, strike=120, dip=60, rake=90,
                   area_m2=4e6, slip_m=0.5 + i, tinit_s=0.5 * i, dt=0.01) for i in range(3)]
    points[2]["fmax_hz"] = 1000.0
    out = trislip.write_srf(points, str(tmp_path / "m.srf"))
    assert (out["points"], out["potency_m3"]) == (3, 4e6 * 4.5)
    assert [(w[0], w[1]) for w in out["warnings"]] == [(2, "step_too_coarse"), (2, "slip_lost")]
    lines = (tmp_path / "m.srf").read_text().splitlines()
    assert lines[:2] == ["1.0", "POINTS 3"]
    assert lines[2].split() == ["-118", "34", "8", "120", "60", "40000000000", "0", "0.01"] or \
        [float(x) for x in lines[2].split()] == [-118, 34, 8, 120, 60, 4e10, 0, 0.01]
    rake, slip1, nt1 = float(lines[3].split()[0]), float(lines[3].split()[1]), int(lines[3].split()[2])
    rates = [float(x) for line in lines[4:4 + (nt1 + 5) // 6] for x in line.split()]
    assert (rake, len(rates)) == (90.0, nt1)
    assert slip1 == pytest.approx(0.01 * math.fsum(rates), rel=1e-12)
    assert slip1 == pytest.approx(50.0, rel=1e-3)
    for bad, says in [(dict(points[0], dip=91), "dip = 91"), ({"lon": 1.0}, "no lat"),
                      (dict(points[0], colour=1), "unknown field colour")]:
        with pytest.raises(ValueError, match=says):
            trislip.write_srf([bad], str(tmp_path / "x.srf"))
    for kwargs, says in [(dict(plane="point"), "exactly one point"), (dict(version="3.0"), "must be 1.0 or 2.0")]:
        with pytest.raises(ValueError, match=says):
            trislip.write_srf(points, str(tmp_path / "x.srf"), **kwargs)
    with pytest.raises(RuntimeError, match="No space left"):
        trislip.write_srf([dict(points[0], fmax_hz=50.0)], "/dev/full")  # a few hundred bytes


MODELS = __import__("pathlib").Path(__file__).resolve().parents[2] / ".." / "shared" / "models"


def test_a_published_model_read_changed_and_written(tmp_path):
    f = trislip.read_fault(str(MODELS / "usgs_2019_ridgecrest.fsp"), dt=0.004)
    c = f["columns"]
    assert f["format"] == "fsp" and f["subfaults_read"] == 336 and len(c["slip_m"]) == 336
    own = np.loadtxt(MODELS / "usgs_2019_ridgecrest.fsp", comments="%")
    m0 = np.sum(c["rigidity_pa"] * c["area_m2"] * c["slip_m"])
    assert m0 == pytest.approx(own[:, 9].sum(), rel=1e-12)
    assert np.array_equal(c["tinit_s"], own[:, 7])
    assert f["geometry"] == {"checked": True, "passed": True, "points_outside": 0, "hypocentre_on_a_segment": True}
    rate = trislip.moment_rate(c, dt=0.004)
    assert np.sum((rate[1:] + rate[:-1]) / 2) * 0.004 == pytest.approx(m0, rel=1e-3)
    # Twice the slip everywhere, written with the model's own plane.
    c["slip_m"] = c["slip_m"] * 2
    out = trislip.write_srf(c, str(tmp_path / "twice.srf"), plane=f["planes"])
    assert out["points"] == 336 and out["warnings"] == []
    assert np.allclose(out["slip1_m"], c["slip_m"], rtol=1e-3)
    assert (tmp_path / "twice.srf").read_text().startswith("1.0\nPLANE 1\n")
    with pytest.raises(ValueError, match="line 2: no rise time"):
        p = tmp_path / "t.csv"
        p.write_text("lon,lat,depth_km,strike,dip,rake,area_m2,slip_m,tinit_s\n-118,34,5,120,45,90,1e6,0.5,0\n")
        trislip.read_fault(str(p))


def test_an_srfs_own_rate_functions_kept_and_written_again(tmp_path):
    src = tmp_path / "own.srf"
    src.write_text("1.0\nPOINTS 1\n-118 34 5 90 90 4e10 0.5 0.02\n0 1.6 5 0 0 0 0\n0 20 40 20 0\n")
    c = trislip.read_fault(str(src), dt=0.01, mu=3e10, keep_rate_functions=True)["columns"]
    rate = c["rate_m_s"][0]
    assert c["slip_m"][0] == pytest.approx(0.016, rel=1e-12)
    assert np.sum(rate) * 0.01 == pytest.approx(0.016, rel=1e-12)
    assert np.allclose(rate[:5], [0, 0.1, 0.2, 0.3, 0.4])  # the 0.02 s steps' rates, halved at their edges
    out = trislip.write_srf(c, str(tmp_path / "again.srf"))
    assert out["slip1_m"] == pytest.approx([0.016], rel=1e-12) and out["warnings"] == []
    with pytest.raises(ValueError, match="--keep-rate-functions: a model in fsp"):
        trislip.read_fault(str(MODELS / "usgs_2019_ridgecrest.fsp"), keep_rate_functions=True)


def test_time_windows_are_points_of_their_own():
    path = str(MODELS / "time-windows" / "srcmod_1994_northridge.fsp")
    c = trislip.read_fault(path, dt=0.002)["columns"]
    rows = np.loadtxt(path, comments="%")
    windows = rows[:, [7, 9, 11]]
    assert len(c["slip_m"]) == np.count_nonzero(windows) == 397
    assert np.array_equal(c["slip_m"], windows[windows != 0])
    assert set(c["window"]) == {1.0, 2.0, 3.0}
    merged = trislip.read_fault(path, dt=0.002, merge_windows=True)["columns"]
    assert len(merged["slip_m"]) == 186 and set(merged["window"]) == {0.0}
    with pytest.raises(ValueError, match="--mu 3e\\+10: disagrees with --vs 3200 and --density 2700"):
        trislip.read_fault(path, mu=3e10, vs=3200, density=2700)


def test_specfem_cmt_from_python(tmp_path):
    t = trislip.moment_tensor(0, 45, 90, 1e18)  # a 45-degree thrust striking north
    assert t["mrr"] == pytest.approx(1e18) and t["mpp"] == pytest.approx(-1e18) and abs(t["mtt"]) < 1e3
    s = trislip.delayed_normalised_slip(0.0, 4096)
    assert np.array_equal(s, trislip.synthesize().displacement)  # dmax 1: the synthesis's own slip
    f = trislip.read_fault(str(MODELS / "usgs_2015_illapel.param"), dt=0.004)
    out = trislip.write_specfem_cmt(f["columns"], str(tmp_path), dt=0.004, nt=40000, binary=True)
    assert out["entries"] == 207 and out["warnings"] == []
    assert out["moment_dyne_cm"] == pytest.approx(np.sum(np.loadtxt(MODELS / "usgs_2015_illapel.param", comments="#", skiprows=9)[:, 10]), rel=1e-9)
    assert (tmp_path / "stf_000207.bin").stat().st_size == 8 + 4 * 40000
    assert (tmp_path / "CMTSOLUTION").read_text().count("DATA/specfem_stf/stf_") == 207
    # A double-precision build's records, positions in a southern UTM zone;
    # a zone the frame lacks leaves the files of before.
    out = trislip.write_specfem_cmt(f["columns"], str(tmp_path), dt=0.004, nt=40000, binary=True,
                                    precision="double", coordinates="utm", utm_zone=-19, depth="z")
    assert out["projection"] == "+proj=utm +zone=19 +south +datum=WGS84 +units=m"
    record = (tmp_path / "stf_000207.bin").read_bytes()
    assert len(record) == 8 + 8 * 40000 and np.frombuffer(record[:4], "<i4")[0] == 8 * 40000
    northings = [float(l.split()[1]) for l in (tmp_path / "CMTSOLUTION").read_text().splitlines() if l.startswith("latorUTM")]
    assert 6.3e6 < min(northings) and max(northings) < 6.9e6  # 28 to 34 degrees south
    with pytest.raises(ValueError, match="utm_zone"):
        trislip.write_specfem_cmt(f["columns"], str(tmp_path), dt=0.004, nt=40000, coordinates="utm")
    assert (tmp_path / "CMTSOLUTION").read_text().count("latorUTM") == 207
    # The mesh's Par_file: its DT and NSTEP for those left out, its zone
    # turning the tensors; a step that disagrees is refused.
    (tmp_path / "Par_file").write_text("DT = 4.d-3\nNSTEP = 40000\nSUPPRESS_UTM_PROJECTION = .false.\n"
                                       "UTM_PROJECTION_ZONE = -19\n")
    out = trislip.write_specfem_cmt(f["columns"], str(tmp_path), par_file=str(tmp_path / "Par_file"))
    assert (out["dt"], out["nt"], out["tensors_turned"]) == (0.004, 40000, True)
    with pytest.raises(ValueError, match="the mesh's DT = 0.004"):
        trislip.write_specfem_cmt(f["columns"], str(tmp_path), dt=0.005, par_file=str(tmp_path / "Par_file"))


def test_nrf_from_python(tmp_path):
    c = trislip.read_fault(str(MODELS / "usgs_2019_ridgecrest.fsp"), dt=0.01)["columns"]
    out = trislip.write_nrf(c, str(tmp_path / "r.nrf"), projection="+proj=utm +zone=11 +datum=WGS84 +units=m +axis=neu")
    assert out["sources"] == 336 and out["axes"] == "neu" and out["onset_shift_s"] == 0
    assert (tmp_path / "r.nrf").read_bytes()[:8] == b"\x89HDF\r\n\x1a\n"  # netCDF-4
    # The sampled slip loses a little of the nominal moment, never more than 0.1%.
    assert out["moment_Nm"] == pytest.approx(np.sum(c["rigidity_pa"] * c["area_m2"] * c["slip_m"]), rel=1e-3)
    with pytest.raises(ValueError, match="projection"):
        trislip.write_nrf(c, str(tmp_path / "x.nrf"), projection="+proj=nowhere")
    assert not (tmp_path / "x.nrf").exists()
