// A made-up single-segment FSP model of nx * nz subfaults, for timing the
// page on a model larger than the published ones: a smooth slip patch
// whose rupture spreads from the hypocentre at 2.5 km/s, rise times from 2
// to 8 s. node fault_model.js NX NZ > model.fsp
'use strict';

function fault_model(nx, nz) {
  const dx = 4, dz = 3, strike = 0, dip = 20, htop = 1;
  const lat0 = -31, lon0 = -72, km = 180 / (Math.PI * 6371);
  const len = nx * dx, wid = nz * dz;
  const hyp = { along: 0.3 * len, down: 0.6 * wid };
  const rad = Math.PI / 180;
  const place = (along, down) => {
    const lat = lat0 + (along - len / 2) * km;
    return {
      lat, lon: lon0 + down * Math.cos(dip * rad) * km / Math.cos(lat * rad), depth: htop + down * Math.sin(dip * rad),
    };
  };
  const h = place(hyp.along, hyp.down);
  const rows = [];
  let moment = 0;
  for (let j = 0; j < nz; ++j) {
    for (let i = 0; i < nx; ++i) {
      const along = (i + 0.5) * dx, down = (j + 0.5) * dz;
      const p = place(along, down);
      const r2 = ((along - hyp.along) / (0.3 * len)) ** 2 + ((down - hyp.down) / (0.35 * wid)) ** 2;
      const slip = 0.05 + 6 * Math.exp(-r2);
      const trup = Math.hypot(along - hyp.along, down - hyp.down) / 2.5;
      const rise = 2 + slip;
      const m0 = 3e10 * dx * dz * 1e6 * slip;
      moment += m0;
      rows.push(`${p.lat.toFixed(4)} ${p.lon.toFixed(4)} 0.0 0.0 ${p.depth.toFixed(4)} ${slip.toFixed(4)} 90.0 ` +
        `${trup.toFixed(4)} ${rise.toFixed(4)} ${m0.toExponential(3)}`);
    }
  }
  const mw = (2 / 3) * (Math.log10(moment) - 9.1);
  return [
    '% ---------------------------------- FINITE-SOURCE RUPTURE MODEL ----------------------------------',
    '%',
    `% Event : MADE-UP ${nx * nz}-SUBFAULT MODEL`,
    `% EventTAG: made_up_${nx}x${nz}`,
    '%',
    `% Loc  : LAT = ${h.lat.toFixed(4)}  LON = ${h.lon.toFixed(4)}  DEP = ${h.depth.toFixed(4)}`,
    `% Size : LEN = ${len} km  WID = ${wid} km  Mw = ${mw.toFixed(2)}  Mo = ${moment.toExponential(4)} Nm`,
    `% Mech : STRK = ${strike} DIP = ${dip} RAKE = 90  Htop = ${htop} km`,
    `% Rupt : HypX = ${hyp.along} km  Hypz = ${hyp.down} km  avTr = 4.0 s  avVr = 2.5 km/s`,
    '%',
    `% Invs : Nx = ${nx}  Nz = ${nz} Fmin = 0.01 Hz  Fmax = 0.125 Hz`,
    `% Invs : Dx = ${dx} km  Dz = ${dz} km`,
    '% Invs : Ntw = 1  Nsg = 1     (# of time-windows,# of fault segments)',
    '%',
    '% SOURCE MODEL PARAMETERS',
    `% Nsbfs = ${nx * nz} subfaults`,
    '% X,Y,Z coordinates in km; SLIP in m',
    '% Coordinates are given for center of each subfault or segment: |\'|',
    '% LAT LON X==EW Y==NS Z SLIP RAKE TRUP RISE SF_MOMENT',
    '% ----------------------------------  ----------------------------------',
    ...rows,
    '',
  ].join('\n');
}

module.exports = { fault_model };
if (require.main === module) process.stdout.write(fault_model(Number(process.argv[2] || 40), Number(process.argv[3] || 25)));
