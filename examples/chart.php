<?php
// A chart through libnorvisk from PHP's FFI: the file `norvisk bar|xy OUTPUT DATA` writes.
//   php -d ffi.enable=1 examples/chart.php bar|xy OUTPUT DATA [WIDTH HEIGHT]
// NORVISK_LIBRARY names the library (default libnorvisk.so.1, found as the system finds
// libraries) and NORVISK_HEADER its header (default /usr/local/include/norvisk.h). FFI reads no
// preprocessor lines, so the header goes through the C preprocessor first.

function norvisk_ffi(): FFI
{
    $header = getenv('NORVISK_HEADER') ?: '/usr/local/include/norvisk.h';
    $library = getenv('NORVISK_LIBRARY') ?: 'libnorvisk.so.1';
    // Only the header's own declarations: <stddef.h> is left out and size_t given instead.
    $source = file_get_contents($header);
    if ($source === false) {
        throw new RuntimeException("cannot read $header");
    }
    $source = str_replace('#include <stddef.h>', '', $source);
    $cpp = proc_open(['cpp', '-P', '-'], [['pipe', 'r'], ['pipe', 'w'], STDERR], $pipes);
    if (!is_resource($cpp)) {
        throw new RuntimeException('cannot run cpp');
    }
    fwrite($pipes[0], $source);
    fclose($pipes[0]);
    $declarations = stream_get_contents($pipes[1]);
    fclose($pipes[1]);
    if (proc_close($cpp) !== 0) {
        throw new RuntimeException("cpp could not read $header");
    }
    return FFI::cdef("typedef unsigned long size_t;\n" . $declarations, $library);
}

// The picture as bytes; a RuntimeException with the library's text when there is none.
function norvisk_chart(FFI $n, string $kind, string $data, int $width, int $height,
                       int $format): string
{
    $out = $n->new('unsigned char*');
    $size = $n->new('size_t');
    $draw = $kind === 'bar' ? 'norvisk_bar_chart' : 'norvisk_xy_chart';
    $status = $n->$draw($data, $width, $height, $format, FFI::addr($out), FFI::addr($size));
    if ($status !== $n->NORVISK_OK) {
        throw new RuntimeException($n->norvisk_status_text($status), $status);
    }
    try {
        return FFI::string($out, $size->cdata);
    } finally {
        $n->norvisk_free($out);
    }
}

if (PHP_SAPI === 'cli' && realpath($_SERVER['SCRIPT_FILENAME'] ?? '') === __FILE__) {
    [$kind, $output, $data] = array_slice($argv, 1, 3) + [null, null, null];
    $width = (int)($argv[4] ?? 640);
    $height = (int)($argv[5] ?? 300);
    if (!in_array($kind, ['bar', 'xy'], true) || $output === null || $data === null) {
        fwrite(STDERR, "usage: php -d ffi.enable=1 chart.php bar|xy OUTPUT DATA [WIDTH HEIGHT]\n");
        exit(2);
    }
    $n = norvisk_ffi();
    // The command's rule: ".bmp" anywhere gives a bitmap, else ".jpg" anywhere a JPEG.
    if (str_contains($output, '.bmp')) {
        $format = $n->NORVISK_FORMAT_BMP;
    } elseif (str_contains($output, '.jpg')) {
        $format = $n->NORVISK_FORMAT_JPEG;
    } else {
        fwrite(STDERR, "chart.php: $output: the name must contain \".bmp\" or \".jpg\"\n");
        exit(1);
    }
    try {
        $bytes = norvisk_chart($n, $kind, $data, $width, $height, $format);
    } catch (RuntimeException $e) {
        fwrite(STDERR, "chart.php: $output: not written: {$e->getMessage()}\n");
        exit(1);
    }
    if (file_put_contents($output, $bytes) !== strlen($bytes)) {
        fwrite(STDERR, "chart.php: $output: cannot be written\n");
        exit(1);
    }
    printf("%s: %d bytes (libnorvisk %s)\n", $output, strlen($bytes), $n->norvisk_version());
}
