// Draws a bar chart and an XY chart through Norvisk.NVGraph, each as a bitmap and as a JPEG, into
// the folder given as the first argument:  cscript //nologo charts.js FOLDER
var folder = WScript.Arguments(0);
var graph = new ActiveXObject("Norvisk.NVGraph");

// There is no graph to add to yet: the call does nothing, and it is no error for a script.
graph.AddBarValue(1);

graph.DrawBarGraph(folder + "\\bar.bmp",
    "(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)(West;30;20;25)");
graph.SaveToFile(folder + "\\bar.jpg");

// The same XY chart built call by call, then from its data string.
graph.CreateXYGraph();
graph.AddXYValue("Jan", 10);
graph.AddXYValue("Feb", 20);
graph.AddXYValue("Mar", 15);
graph.AddXYValue("Apr", 12.5);
graph.SaveToFile(folder + "\\xy.bmp");
graph.DrawXYGraph(folder + "\\xy.jpg", "(Jan;10)(Feb;20)(Mar;15)(Apr;12.5)");

graph = null;
WScript.Echo("charts written");
