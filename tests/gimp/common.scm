; What the batch scripts of tests/gimp and tests/gimp-alpha build and save
; their files with; scripts/gimp-files.sh runs it before each.

(define (new-layer image parent position type name w h x y opacity mode)
  (let ((layer (car (gimp-layer-new image w h type name opacity mode))))
    (gimp-image-insert-layer image layer parent position)
    (gimp-layer-set-offsets layer x y)
    layer))

(define (new-group image parent position name opacity mode)
  (let ((group (car (gimp-layer-group-new image))))
    (gimp-image-insert-layer image group parent position)
    (gimp-item-set-name group name)
    (gimp-layer-set-opacity group opacity)
    (gimp-layer-set-mode group mode)
    group))

(define (gradient drawable from to x1 y1 x2 y2)
  (gimp-context-set-foreground from)
  (gimp-context-set-background to)
  (gimp-context-set-gradient-fg-bg-rgb)
  (gimp-drawable-edit-gradient-fill drawable GRADIENT-LINEAR 0 FALSE 1 0 FALSE x1 y1 x2 y2))

; A file as GIMP's own XCF saver writes it, by its name in OUT.
(define (save image name)
  (let ((path (string-append OUT "/" name)))
    (gimp-xcf-save 0 image (car (gimp-image-get-active-drawable image)) path path)))

; GIMP's picture over black: an opaque black Normal layer under everything
; (black taken as it is in an indexed palette), flattened, in 8-bit gamma,
; as OUT/expected/NAME.png.
(define (expect image name)
  (let ((path (string-append OUT "/expected/" name ".png")))
    (if (not (= (car (gimp-image-base-type image)) INDEXED))
      (let* ((type (if (= (car (gimp-image-base-type image)) GRAY) GRAY-IMAGE RGB-IMAGE))
             (black (car (gimp-layer-new image (car (gimp-image-width image)) (car (gimp-image-height image))
                                         type "black" 100 LAYER-MODE-NORMAL))))
        (gimp-image-insert-layer image black 0 (car (gimp-image-get-layers image)))
        (gimp-context-set-foreground '(0 0 0))
        (gimp-drawable-fill black FILL-FOREGROUND)))
    (gimp-context-set-background '(0 0 0))
    (let ((flat (car (gimp-image-flatten image))))
      (if (not (= (car (gimp-image-get-precision image)) PRECISION-U8-GAMMA))
        (gimp-image-convert-precision image PRECISION-U8-GAMMA))
      (file-png-save2 RUN-NONINTERACTIVE image (car (gimp-image-get-active-drawable image)) path path
                      0 9 0 0 0 0 0 0 0))))

; A file made by MAKE saved as NAME.xcf, and GIMP's picture of it.
(define (both make name)
  (save (make) (string-append name ".xcf"))
  (expect (make) (string-append name ".xcf")))
