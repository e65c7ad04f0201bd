$FF
-1  7 x
$FF
-1  7 x
$FF
-1  7 x
$FF
-1  7 x
$FF
-1  7 x
$FF
-1  7 x
$FF
-1  7 x
$FF
-1  7 x
$FF
-1  7 x
