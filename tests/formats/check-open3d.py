"""Reads PCD and PLY files with Open3D and compares their points with a CSV file of the same
points (columns x, y, z): exits 1 on the first difference beyond a float's precision.

Usage: /usr/bin/python3 check-open3d.py FILE.csv FILE.pcd|FILE.ply ...
"""
import sys

import numpy as np
import open3d as o3d


def main():
    reference = np.genfromtxt(sys.argv[1], delimiter=",", names=True)
    expected = np.column_stack([reference["x"], reference["y"], reference["z"]])
    status = 0
    for path in sys.argv[2:]:
        cloud = o3d.io.read_point_cloud(path)
        points = np.asarray(cloud.points)
        if points.shape != expected.shape:
            print(f"{path}: {points.shape[0]} points, expected {expected.shape[0]}")
            status = 1
            continue
        # Every format stores coordinates as 32-bit floats.
        worst = np.max(np.abs(points - expected) / np.maximum(np.abs(expected), 1.0))
        if worst > 1e-6:
            print(f"{path}: coordinates differ by up to {worst:g} (relative)")
            status = 1
        else:
            print(f"{path}: {points.shape[0]} points match")
    return status


if __name__ == "__main__":
    sys.exit(main())
