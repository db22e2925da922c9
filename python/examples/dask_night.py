"""A directory of lights matched against one dark (and bias) on a Dask cluster.

    dask_night.py --dark D.fits [--bias B.fits] [--subtract] [--method fit|plugin]
                  --out-dir OUT LIGHTS_DIR
                  [--scheduler tcp://scheduler:8786 | --workers 2]

Without --scheduler it starts a LocalCluster of --workers processes; with it,
the same work goes to the cluster behind that scheduler (whose workers need
tenvora importable and the files at the same paths). Prints the report rows as
JSON, one a line; a light that fails gets a row {"file", "problem"} and leaves no
output, its problem goes to standard error, the others go on, and the exit status
is 2.
"""

import argparse
import json
import os
import sys

from dask.distributed import Client, LocalCluster

from tenvora import night


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("lights", help="directory of light frames")
    parser.add_argument("--dark", required=True)
    parser.add_argument("--bias")
    parser.add_argument("--bias-factor", type=int, default=1)
    parser.add_argument("--subtract", action="store_true")
    parser.add_argument("--method", choices=("fit", "plugin"), default="fit",
                        help="fit both scales over the frame (default) or the plug-in's levels")
    parser.add_argument("--out-dir", required=True)
    parser.add_argument("--overwrite", action="store_true")
    parser.add_argument("--scheduler", help="address of a running scheduler")
    parser.add_argument("--workers", type=int, default=2, help="local worker processes")
    args = parser.parse_args()

    lights = night.lights_in(args.lights, leave_out=[p for p in (args.dark, args.bias) if p])
    os.makedirs(args.out_dir, exist_ok=True)
    if args.scheduler:
        client, cluster = Client(args.scheduler), None
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
    try:
        rows = night.match_night(lights, args.dark, args.out_dir, args.bias, args.bias_factor,
                                 args.subtract, args.overwrite, client=client,
                                 method=args.method)
    except (OSError, ValueError) as e:
        # A bad dark or bias, or outputs refused before any work.
        print(f"dask_night.py: {e}", file=sys.stderr)
        return 2
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    failed = [row for row in rows if "problem" in row]
    for row in rows:
        print(json.dumps(row))
    for row in failed:
        print(f"dask_night.py: {row['problem']}", file=sys.stderr)
    return 2 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
