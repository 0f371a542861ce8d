#!/usr/bin/env python3
"""Charts through the norvisk module: JPEG bytes in memory, and a graph built item by item."""
import sys

import norvisk

out = sys.argv[1] if len(sys.argv) > 1 else "out"

jpeg = norvisk.bar_chart("(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)",
                         format="jpeg", width=640, height=300)
with open(out + "/python-bar.jpg", "wb") as f:
    f.write(jpeg)

with norvisk.Graph() as graph:
    graph.create_xy_graph()
    for month, visits in (("Jan", 10), ("Feb", 20), ("Mar", 15), ("Apr", 12), ("May", 18)):
        graph.add_xy_value(month, visits)
    graph.save_to_file(out + "/python-xy.bmp")
    try:
        graph.add_bar_value(3)
    except norvisk.KindError as error:
        print("an XY graph takes no bar values:", error)

print("%s/python-bar.jpg (%d bytes), %s/python-xy.bmp (libnorvisk %s)"
      % (out, len(jpeg), out, norvisk.version()))
