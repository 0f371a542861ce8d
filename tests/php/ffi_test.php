<?php
// libnorvisk through PHP's FFI as examples/chart.php declares it: statuses for null and
// wrong-kind calls, never the end of the process; the JSON of a reading.
require __DIR__ . '/../../examples/chart.php';

$failures = 0;
function check(bool $ok, string $what): void
{
    global $failures;
    if (!$ok) {
        fwrite(STDERR, "failed: $what\n");
        ++$failures;
    }
}

$n = norvisk_ffi();
$out = $n->new('unsigned char*');
$size = $n->new('size_t');
// PHP's null is C's null pointer: reported, not followed.
check($n->norvisk_bar_chart(null, 640, 300, $n->NORVISK_FORMAT_JPEG, FFI::addr($out),
                            FFI::addr($size)) === $n->NORVISK_BAD_ARGUMENT, 'null data');
check($n->norvisk_xy_chart('(a;1)', 640, 300, $n->NORVISK_FORMAT_BMP, null, null)
      === $n->NORVISK_BAD_ARGUMENT, 'null outputs');
check($n->norvisk_bar_chart('(a)(b;1)', 640, 300, 7, FFI::addr($out), FFI::addr($size))
      === $n->NORVISK_BAD_ARGUMENT, 'unknown format');
check($n->norvisk_add_bar_value(null, 1.0) === $n->NORVISK_BAD_ARGUMENT, 'null handle');
check($n->norvisk_xy_chart('(no point', 640, 300, $n->NORVISK_FORMAT_BMP, FFI::addr($out),
                           FFI::addr($size)) === $n->NORVISK_NOT_WRITTEN, 'no point');

$graph = $n->norvisk_graph_new();
check($graph !== null, 'a graph object');
check($n->norvisk_add_bar_value($graph, 1.0) === $n->NORVISK_WRONG_KIND, 'no graph yet');
check($n->norvisk_create_xy_graph($graph) === $n->NORVISK_OK, 'an XY graph');
check($n->norvisk_add_bar_legend($graph, 'Q1') === $n->NORVISK_WRONG_KIND, 'a legend on XY');
check($n->norvisk_add_xy_value($graph, 'Jan', 10.0) === $n->NORVISK_OK, 'a point');
check($n->norvisk_encode($graph, $n->NORVISK_FORMAT_BMP, FFI::addr($out), FFI::addr($size))
      === $n->NORVISK_OK && $size->cdata > 54, 'an encoded bitmap');
check(FFI::string($out, 2) === 'BM', 'a bitmap\'s first bytes');
$n->norvisk_free($out);
$n->norvisk_graph_free($graph);
check($n->norvisk_status_text(99) === 'unknown status', 'an unknown status\'s text');

try {
    norvisk_chart($n, 'xy', '(no point', 640, 300, $n->NORVISK_FORMAT_JPEG);
    check(false, 'no exception for a chart without a point');
} catch (RuntimeException $e) {
    check($e->getCode() === $n->NORVISK_NOT_WRITTEN, 'the status in the exception');
}

$json = $n->new('char*');
$data = '(Q1;Q2)(North;10;20)';
check($n->norvisk_parse_json($n->NORVISK_KIND_BAR, $data, strlen($data), FFI::addr($json),
                             FFI::addr($size)) === $n->NORVISK_OK, 'a reading');
$reading = json_decode(FFI::string($json, $size->cdata), true);
$n->norvisk_free($json);
check($reading === ['legends' => ['Q1', 'Q2'],
                    'bars' => [['name' => 'North', 'values' => [10, 20]]], 'maxTotal' => 30],
      'the reading\'s JSON');
check($n->norvisk_parse_json(3, $data, strlen($data), FFI::addr($json), FFI::addr($size))
      === $n->NORVISK_BAD_ARGUMENT, 'an unknown kind');

echo $failures ? "$failures check(s) failed\n" : "all checks passed\n";
exit($failures ? 1 : 0);
